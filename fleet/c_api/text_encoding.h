// UTF-8 and GBK, the two encodings a session speaks; one implementation per system.
#pragma once

#include <string>
#include <string_view>

namespace vudaduv::fleet::c_api {

// Strict: false when utf8 is not valid UTF-8 or holds a character that GBK lacks.
bool Utf8ToGbk(std::string_view utf8, std::string& gbk);

// Lenient, for texts shown to the caller: a byte that starts no GBK character becomes "?".
std::string GbkToUtf8(std::string_view gbk);

}  // namespace vudaduv::fleet::c_api
