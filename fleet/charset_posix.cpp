#include <errno.h>
#include <iconv.h>

#include "vudaduv_charset.h"

namespace vudaduv::charset {

namespace {

constexpr const char* kGbk = "GBK";

// One iconv descriptor for the length of a conversion.
class Converter {
  public:
    Converter(const std::string& to, const std::string& from)
        : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (Ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts text, calling onBadByte (which may append a stand-in and must return whether to
    // go on) for each byte that cannot be converted; the byte is then skipped.
    template <typename OnBadByte>
    bool Run(std::string_view text, std::string& out, OnBadByte onBadByte) {
        out.clear();
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        char buffer[256];
        while (true) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            std::size_t done = inLeft == 0 ? iconv(cd_, nullptr, nullptr, &outPtr, &outLeft)
                                           : iconv(cd_, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (done != static_cast<std::size_t>(-1)) {
                if (inLeft == 0) return true;
                continue;
            }
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: an unconvertible or cut-off sequence at in.
            if (inLeft == 0 || !onBadByte(out)) return false;
            ++in;
            --inLeft;
        }
    }

  private:
    iconv_t cd_;
};

}  // namespace

bool CharsetKnown(const std::string& charset) {
    Converter there(kGbk, charset);
    Converter back(charset, kGbk);
    return there.Ok() && back.Ok();
}

bool ConvertToGbk(const std::string& charset, std::string_view text, std::string& gbk) {
    Converter converter(kGbk, charset);
    return converter.Ok() && converter.Run(text, gbk, [](std::string&) { return false; });
}

bool ConvertToUtf8(const std::string& charset, std::string_view text, std::string& utf8) {
    Converter converter("UTF-8", charset);
    return converter.Ok() && converter.Run(text, utf8, [](std::string&) { return false; });
}

std::string ConvertFromGbk(const std::string& charset, std::string_view gbk) {
    Converter converter(charset, kGbk);
    std::string out;
    if (!converter.Ok()) return std::string(gbk);
    converter.Run(gbk, out, [](std::string& sofar) {
        sofar += '?';
        return true;
    });
    return out;
}

}  // namespace vudaduv::charset
