// Conversion between a user's character set and GBK, the library's text bytes, for the tool and
// the fleet's C layer alike. One implementation per system: charset_posix.cpp over iconv,
// charset_windows.cpp over code pages (UTF-8, GBK/CP936, GB18030, CPnnnn and a few more names).
// Every function is safe to call from any thread.
#pragma once

#include <string>
#include <string_view>

namespace vudaduv::charset {

// True when the system can convert between charset and GBK.
bool CharsetKnown(const std::string& charset);

// Strict: false when text is not valid in charset or holds a character that GBK lacks.
bool ConvertToGbk(const std::string& charset, std::string_view text, std::string& gbk);

// Strict, for naming a character in messages: false when text is not valid in charset.
bool ConvertToUtf8(const std::string& charset, std::string_view text, std::string& utf8);

// Lenient, for showing: a byte that does not start a GBK character becomes "?".
std::string ConvertFromGbk(const std::string& charset, std::string_view gbk);

}  // namespace vudaduv::charset
