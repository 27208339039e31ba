// UTF-8 and GBK over code pages: text goes to UTF-16 and on, with MultiByteToWideChar and
// WideCharToMultiByte.
#include <windows.h>

#include <climits>

#include "text_encoding.h"

namespace vudaduv::fleet::c_api {

namespace {

constexpr UINT kGbk = 936;

bool ToWide(UINT codePage, std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
    int length = static_cast<int>(text.size());
    int needed =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0) return false;
    wide.resize(static_cast<std::size_t>(needed));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                               needed) == needed;
}

// Strict: GBK takes a stand-in character for what it lacks, which counts as a failure; UTF-8
// takes none and fails on an unpaired surrogate.
bool FromWide(UINT codePage, const std::wstring& wide, std::string& text) {
    text.clear();
    if (wide.empty()) return true;
    if (wide.size() > static_cast<std::size_t>(INT_MAX)) return false;
    int length = static_cast<int>(wide.size());
    bool toGbk = codePage == kGbk;
    DWORD flags = toGbk ? WC_NO_BEST_FIT_CHARS : WC_ERR_INVALID_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = toGbk ? &usedDefault : nullptr;
    int needed = WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr,
                                     usedDefaultOut);
    if (needed <= 0 || usedDefault) return false;
    text.resize(static_cast<std::size_t>(needed));
    return WideCharToMultiByte(codePage, flags, wide.data(), length, text.data(), needed, nullptr,
                               usedDefaultOut) == needed &&
           !usedDefault;
}

bool Convert(UINT from, UINT to, std::string_view text, std::string& out) {
    std::wstring wide;
    return ToWide(from, text, wide) && FromWide(to, wide, out);
}

// The bytes of the GBK character that starts at: two for a lead byte with a trail byte after
// it, else one.
std::size_t GbkCharacterLength(std::string_view gbk, std::size_t at) {
    auto lead = static_cast<unsigned char>(gbk[at]);
    if (lead < 0x81 || lead > 0xFE || at + 1 >= gbk.size()) return 1;
    auto trail = static_cast<unsigned char>(gbk[at + 1]);
    return trail >= 0x40 && trail <= 0xFE && trail != 0x7F ? 2 : 1;
}

}  // namespace

bool Utf8ToGbk(std::string_view utf8, std::string& gbk) {
    return Convert(CP_UTF8, kGbk, utf8, gbk);
}

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    if (Convert(kGbk, CP_UTF8, gbk, out)) return out;
    // Character by character, so that one bad byte costs only itself.
    out.clear();
    std::size_t at = 0;
    while (at < gbk.size()) {
        std::size_t length = GbkCharacterLength(gbk, at);
        std::string piece;
        if (Convert(kGbk, CP_UTF8, gbk.substr(at, length), piece)) {
            out += piece;
            at += length;
        } else {
            out += '?';
            ++at;
        }
    }
    return out;
}

}  // namespace vudaduv::fleet::c_api
