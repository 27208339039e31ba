// Character sets on Windows are code pages: text goes to UTF-16 and on to code page 936 (GBK)
// and back, with MultiByteToWideChar and WideCharToMultiByte.
#include <windows.h>

#include <cctype>
#include <climits>

#include "vudaduv_charset.h"

namespace vudaduv::charset {

namespace {

constexpr UINT kGbk = 936;
constexpr UINT kGb18030 = 54936;

struct CharsetName {
    const char* name;  // upper case
    UINT codePage;
};

constexpr CharsetName kCharsetNames[] = {
    {"UTF-8", CP_UTF8},    {"UTF8", CP_UTF8},     {"GBK", kGbk},    {"CP936", kGbk},
    {"GB2312", kGbk},      {"GB18030", kGb18030}, {"ASCII", 20127}, {"US-ASCII", 20127},
    {"ISO-8859-1", 28591}, {"LATIN1", 28591},     {"BIG5", 950},    {"SHIFT_JIS", 932},
};

std::string UpperCase(const std::string& text) {
    std::string upper = text;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// "CP1252", "WINDOWS-1252" or "1252": the number, when it is one.
bool NumberedCodePage(const std::string& upper, UINT& codePage) {
    std::string digits = upper;
    for (const char* prefix : {"CP", "WINDOWS-"}) {
        std::string lead(prefix);
        if (upper.compare(0, lead.size(), lead) == 0) digits = upper.substr(lead.size());
    }
    if (digits.empty() || digits.size() > 5) return false;
    unsigned long number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + static_cast<unsigned long>(c - '0');
    }
    codePage = static_cast<UINT>(number);
    return true;
}

// The code page of a character set name; false when the system has none by that name.
bool FindCodePage(const std::string& charset, UINT& codePage) {
    std::string upper = UpperCase(charset);
    for (const CharsetName& row : kCharsetNames) {
        if (upper == row.name) {
            codePage = row.codePage;
            return IsValidCodePage(codePage) != 0;
        }
    }
    return NumberedCodePage(upper, codePage) && IsValidCodePage(codePage) != 0;
}

// UTF-8 and GB18030 take no replacement character: only an invalid character makes them fail.
bool TakesDefaultCharacter(UINT codePage) {
    return codePage != CP_UTF8 && codePage != kGb18030;
}

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

// Strict: false when a character has no exact counterpart in codePage.
bool FromWide(UINT codePage, const std::wstring& wide, std::string& text) {
    text.clear();
    if (wide.empty()) return true;
    if (wide.size() > static_cast<std::size_t>(INT_MAX)) return false;
    int length = static_cast<int>(wide.size());
    bool withDefault = TakesDefaultCharacter(codePage);
    DWORD flags = withDefault ? WC_NO_BEST_FIT_CHARS : WC_ERR_INVALID_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = withDefault ? &usedDefault : nullptr;
    int needed = WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr,
                                     usedDefaultOut);
    if (needed <= 0 || usedDefault) return false;
    text.resize(static_cast<std::size_t>(needed));
    return WideCharToMultiByte(codePage, flags, wide.data(), length, text.data(), needed, nullptr,
                               usedDefaultOut) == needed &&
           !usedDefault;
}

bool ConvertStrictly(UINT from, UINT to, std::string_view text, std::string& out) {
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

bool CharsetKnown(const std::string& charset) {
    UINT codePage = 0;
    return FindCodePage(charset, codePage) && IsValidCodePage(kGbk) != 0;
}

bool ConvertToGbk(const std::string& charset, std::string_view text, std::string& gbk) {
    UINT codePage = 0;
    return FindCodePage(charset, codePage) && ConvertStrictly(codePage, kGbk, text, gbk);
}

bool ConvertToUtf8(const std::string& charset, std::string_view text, std::string& utf8) {
    UINT codePage = 0;
    return FindCodePage(charset, codePage) && ConvertStrictly(codePage, CP_UTF8, text, utf8);
}

std::string ConvertFromGbk(const std::string& charset, std::string_view gbk) {
    UINT codePage = 0;
    if (!FindCodePage(charset, codePage)) return std::string(gbk);
    std::string out;
    if (ConvertStrictly(kGbk, codePage, gbk, out)) return out;
    // Character by character, so that one bad byte costs only itself.
    out.clear();
    std::size_t at = 0;
    while (at < gbk.size()) {
        std::size_t length = GbkCharacterLength(gbk, at);
        std::string piece;
        if (ConvertStrictly(kGbk, codePage, gbk.substr(at, length), piece)) {
            out += piece;
            at += length;
        } else {
            out += '?';
            ++at;
        }
    }
    return out;
}

}  // namespace vudaduv::charset
