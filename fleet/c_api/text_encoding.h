// UTF-8 and GBK, the two encodings a session speaks.
#pragma once

#include <string>
#include <string_view>

#include "vudaduv_charset.h"

namespace vudaduv::fleet::c_api {

// Strict: false when utf8 is not valid UTF-8 or holds a character that GBK lacks.
inline bool Utf8ToGbk(std::string_view utf8, std::string& gbk) {
    return charset::ConvertToGbk("UTF-8", utf8, gbk);
}

// Lenient, for texts shown to the caller: a byte that starts no GBK character becomes "?".
inline std::string GbkToUtf8(std::string_view gbk) {
    return charset::ConvertFromGbk("UTF-8", gbk);
}

}  // namespace vudaduv::fleet::c_api
