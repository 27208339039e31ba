// The check of data lines before a send. Each line goes the whole way a download and its
// read-back go: through the codec into command lines, into an in-memory virtual scale, out again
// through the matching read request and through the upload-file conversion. The upload line that
// results is compared with the line as the user wrote it, field by field, and every difference is
// told in the user's terms (a clamped number, a cut text, characters that cannot be sent, a line
// the library leaves out, ...).
//
// What CheckDataLine guarantees: a line for which it finds nothing comes back from the virtual
// scale as written. Its read-back gives exactly one upload line, the record type and "P" in front
// of fields equal to the line's (numbers equal in value, "12" for "0012"; item texts missing at the
// end are empty ones). An empty message, which reads back as no line, counts as written. Read
// requests pass when their number is sent as written; the clock and command lines of record types
// without a builder always pass.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vudaduv::cli {

struct Finding {
    std::string field;  // "item number", "text 1", "message text", "line", ...
    std::string what;   // what happens to it, e.g. "5000 becomes 4000"
};

std::vector<Finding> CheckDataLine(uint32_t recordType, bool en, const std::string& line);

// The number of the record that a data line of a numbered record type (1, 3, 5, 10) stores on
// the scale, as sent; nothing for other lines and for lines the library leaves out.
std::optional<std::string> NumberedRecordOf(uint32_t recordType, bool en, const std::string& line);

// What one data line does on a virtual scale of its own, taken as the library takes it (up to
// a NUL byte).
struct RoundTrip {
    bool rejected = false;                 // the codec leaves the line out
    std::vector<std::string> commands;     // its command lines, without CR LF
    std::string number;                    // the record's number as sent ("0012"); "" without
    std::vector<std::string> refusals;     // error replies of the scale to the commands
    std::vector<std::string> uploadLines;  // what its read-back leaves in the upload file
};

RoundTrip RunRoundTrip(uint32_t recordType, bool en, const std::string& line);

// Record types whose data is stored in the scale and can be read back: 1, 3, 5, 7, 10 and 12.
bool StoresRecord(uint32_t recordType);
// The read request that reads a stored record type back (2 for 1, ...); 0 for the others.
uint32_t ReadTypeOf(uint32_t recordType);
// "1P", "3P", ... : how the upload lines of a stored record type begin.
std::string UploadPrefix(uint32_t recordType);

// One named piece of a data line.
struct Field {
    enum Kind { kNumber, kText, kBytes };
    std::string name;
    std::string value;
    Kind kind = kBytes;
};

// The fields of a data line of a stored record type (an upload line without its prefix reads
// the same). Item texts are all listed, also beyond the third.
std::vector<Field> SplitFields(uint32_t recordType, std::string_view line);

// Two values of a field that arrive as the same: numbers by value, the rest byte for byte.
bool SameFieldValue(const Field& field, const std::string& other);

// The text mode of the texts of a data line, "code-page text" or "zone-position text", given
// the record's number as sent.
bool TextsAreCodePage(uint32_t recordType, bool en, const std::string& numberSent);

// What happens to a field that was written as field.value and comes back as back.
std::string ExplainField(const Field& field, bool codePage, const std::string& back);

// A message with an empty text: it reads back as no line, and that is how it arrives.
bool IsEmptyMessage(uint32_t recordType, std::string_view line);

// The upload line of a read-back that belongs to the record, or nullptr.
const std::string* RecordLine(uint32_t recordType, const std::vector<std::string>& uploadLines);

// "0e...": the scale's answer that it refuses a command.
bool IsErrorReply(std::string_view reply);
// A scale's answer that is no error: "0" and a lower-case letter other than "e".
bool IsScaleAnswer(std::string_view reply);

// A command line without the CR LF at its end, if it has one.
std::string WithoutLineEnd(std::string line);

// A value for a message: control bytes as \xHH, long values cut around offset, in quotes.
std::string Quoted(const std::string& value, std::size_t offset = 0);

}  // namespace vudaduv::cli
