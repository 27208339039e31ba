// UTF-8 and GBK over iconv.
#include <errno.h>
#include <iconv.h>

#include "text_encoding.h"

namespace vudaduv::fleet::c_api {

namespace {

// One iconv descriptor for the length of a conversion.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (Ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts text; a byte that cannot be converted ends the conversion (strict) or is shown
    // as "?" and skipped (lenient).
    bool Run(std::string_view text, std::string& out, bool lenient) {
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
            if (inLeft == 0 || !lenient) return false;
            out += '?';
            ++in;
            --inLeft;
        }
    }

  private:
    iconv_t cd_;
};

}  // namespace

bool Utf8ToGbk(std::string_view utf8, std::string& gbk) {
    Converter converter("GBK", "UTF-8");
    return converter.Ok() && converter.Run(utf8, gbk, false);
}

std::string GbkToUtf8(std::string_view gbk) {
    Converter converter("UTF-8", "GBK");
    std::string out;
    if (!converter.Ok()) return std::string(gbk);
    converter.Run(gbk, out, true);
    return out;
}

}  // namespace vudaduv::fleet::c_api
