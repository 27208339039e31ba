// How a message (record types 3 and 5) travels, shared by the encoder, the upload rewrite and the
// virtual scale: its highest number, which encoding its text takes, how much of it is kept and the
// group of zeros that closes its code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vudaduv {

// A message code keeps this many characters, that is code groups of either encoding.
constexpr std::size_t kMessageTextCharacters = 30;

// The terminator of a message code: one code group of zeros of its encoding.
constexpr std::string_view kZonePositionTerminator = "0000";
constexpr std::string_view kCodePageTerminator = "000";

// The highest message number of each record type; a higher number is lowered to it.
constexpr int32_t kMessage3Maximum = 22;
constexpr int32_t kMessage5Maximum = 32;

// Message numbers above these go as code-page text whatever the En flag.
constexpr int32_t kMessage3CodePageAbove = 10;
constexpr int32_t kMessage5CodePageAbove = 16;

}  // namespace vudaduv
