// The codec as the project's other floors use it (the model of a scale, the fleet, the tool, the
// tests): the record-type table, the command encoder, the two text encodings and the conversion
// of reply text into upload lines. Plain C++ over strings; nothing here touches a file, a socket
// or the clock, except the encoding of record type 9, which reads the local clock.
//
// Every function is safe to call from any thread at the same time: none keeps state between
// calls. None throws, except std::bad_alloc when memory runs out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vudaduv {

// ---- Limits ----------------------------------------------------------------------------------

// The highest number of each numbered record; a higher number in a data line is lowered to it.
constexpr int32_t kItemMaximum = 4000;
constexpr int32_t kMessage3Maximum = 22;
constexpr int32_t kMessage5Maximum = 32;
constexpr int32_t kLabelMaximum = 15;

// Message numbers above these go as code-page text whatever the En flag.
constexpr int32_t kMessage3CodePageAbove = 10;
constexpr int32_t kMessage5CodePageAbove = 16;

// A message code keeps this many characters, that is code groups of either encoding.
constexpr std::size_t kMessageTextCharacters = 30;
// The terminator of a message code: one code group of zeros of its encoding.
constexpr std::string_view kZonePositionTerminator = "0000";
constexpr std::string_view kCodePageTerminator = "000";

// An item text keeps this many digits: 12 zone-position or 16 code-page characters.
constexpr std::size_t kItemCodeDigits = 48;

// A key table (record type 12) is exactly this many bytes, sent as four blocks of 144.
constexpr std::size_t kKeyTableBytes = 568;

// ---- The record types ------------------------------------------------------------------------

// What a record type does at the scale.
enum class RecordRole {
    kStores,       // stores data that a read request reads back: 1, 3, 5, 7, 10, 12
    kReads,        // asks for what its partner stored: 2, 4, 6, 8, 11, 13
    kSetsClock,    // 9
    kCommandLine,  // every type without a builder: the data line is the command line
};

using CommandLines = std::vector<std::string>;
// A builder: the command lines of one data line, each ended by CR LF, in send order; nothing
// when the line is rejected.
using BuildCommands = std::optional<CommandLines> (*)(std::string_view dataLine, bool en);

struct RecordType {
    uint32_t code;         // 1 to 13; 0 stands for every type without a builder
    const char* name;      // as help texts show it: "item record", "read item", ...
    const char* dataLine;  // the shape of its data line: "<item>A<fields>##<text1>..."
    const char* commands;  // the command letters of its lines in send order: "V", "SQ"
    RecordRole role;
    uint32_t partner;          // the read request of a stored type and back; 0 for none
    const char* uploadPrefix;  // how its upload lines begin ("1P"); "" unless it stores
    const char* numberName;    // "item number", ...; "" for a type without a number
    std::size_t numberWidth;   // digits of the number on the wire; 0 without a number
    int32_t numberMaximum;     // the highest number; 0 without a number
    int32_t codePageAbove;     // messages: numbers above go as code-page text; 0 for others
    bool takesDataLine;        // false for 8, 9 and 13: encoded once, their lines unread
    bool replacesList;         // 12 and 13: their command lines replace the whole list
    BuildCommands build;       // nullptr for the types without a builder
};

constexpr std::size_t kRecordTypeCount = 13;

// The thirteen types, in the order of their codes (kRecordTypes[i].code == i + 1).
extern const std::array<RecordType, kRecordTypeCount> kRecordTypes;

// The entry of a code; for 0 and every code above 13, the entry of "any other" (code 0).
const RecordType& RecordTypeOf(uint32_t code);

// The stored type whose upload lines begin like text ("12P..." gives type 12; "1P" is not
// taken for "12P"); nullptr when text begins like none.
const RecordType* StoredTypeOfUploadLine(std::string_view text);

// The codes of the types that play role, as a sentence lists them: "1, 3, 5, 7, 10 and 12"
// (lastJoin "or": "1, 3, 5, 7, 10 or 12").
std::string RecordTypesWithRole(RecordRole role, std::string_view lastJoin = "and");

// ---- The command encoder ---------------------------------------------------------------------

constexpr int kEncoded = 0;
constexpr int kRejected = -1;

// Turns list[0], a data line of recordType, into its command lines, in send order, in place.
// Returns kEncoded, or kRejected with the list untouched. A type without a builder leaves the
// list as it came: the data line is its own command line.
int EncodeLine(uint32_t recordType, std::vector<std::string>& list, bool en);

// EncodeLine over every data line in order (once over an empty line for the types that take no
// data line), the command lines of the accepted ones joined in order.
std::vector<std::string> BuildCommandList(uint32_t recordType,
                                          const std::vector<std::string>& lines, bool en);

// The numeric field rule: the atoi value of text, lowered to maximum (no lower bound).
int32_t NumericFieldValue(std::string_view text, int32_t maximum);
// The value in decimal, "0" inserted in front while shorter than width.
std::string PadNumericField(int32_t value, std::size_t width);
// Both steps at once.
std::string FormatNumericField(std::string_view text, int32_t maximum, std::size_t width);

// True when the text of a message (record type 3 or 5) under this number travels as code-page
// text: with the En flag, or when the number lies above the type's threshold.
bool MessageTextIsCodePage(uint32_t recordType, int32_t number, bool en);

// ---- Texts -----------------------------------------------------------------------------------

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// True for a byte that starts a GBK double-byte character (0x81 to 0xFE).
inline bool IsGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

// Position of the first occurrence of separator in text, searching from the start and stepping
// over double-byte characters so that a trail byte is never taken for a separator. kNotFound
// when there is none (or when separator is empty).
std::size_t FindSeparator(std::string_view text, std::string_view separator);

// The value of the leading integer of text as the C function atoi reads it: C white space, one
// optional sign, then decimal digits up to the first other character; 0 without digits. Values
// beyond the 32-bit range saturate to INT32_MAX or INT32_MIN.
int32_t ReadLeadingInteger(std::string_view text);

// Zone-position text: four digits per character. A byte below 0x80 as byte + 268, a double-byte
// character as (lead - 160) * 100 + (trail - 160).
std::string EncodeZonePositionText(std::string_view text);
// Chunks of four characters (the last may be shorter): 300 to 523 give one byte, every other
// value two bytes.
std::string DecodeZonePositionText(std::string_view digits);

// Code-page text: three digits per character. Bytes below 0x80 as their value; a double-byte
// character as its table code, or nothing when the table does not hold it.
std::string EncodeCodePageText(std::string_view text);
// Chunks of three characters (the last may be shorter): a table code gives its character,
// anything else the byte of its atoi value modulo 256.
std::string DecodeCodePageText(std::string_view digits);

// ---- Upload lines ----------------------------------------------------------------------------

// The upload file of the library's exports, in the current directory.
constexpr const char* kUploadFileName = "Rec.txt";

// White space between reply tokens on one line of the upload file; CR and LF end the line.
inline bool IsTokenBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The whole rewrite as a pure function: the bytes of a reply file in, the upload text out (each
// line ended by CR LF). The file is read line by line (a line ends at CR or LF). A line whose
// first token begins like an upload line passes through whole, without trailing white space;
// every other line is a run of reply tokens separated by white space.
std::string ConvertUploadText(const std::string& fileBytes, bool en);

// The upload lines that a scale's replies give, each reply a line of a reply file: the lines of
// the conversion, each without the CR LF that ends it. A CR or LF that a decoded text holds
// stays inside its line, so that a record that no line of a file can keep is known as one.
std::vector<std::string> UploadLinesOfReplies(const std::vector<std::string>& replies, bool en);

}  // namespace vudaduv
