// The model of a scale: what a scale stores and answers, told its text mode (scale_memory.cpp);
// the classes of its replies (reply_class.cpp); the one record model: keys, fields, the "same
// record" rule, what an image line holds (record.cpp); the check of a data line, its whole round
// trip through the codec and a scale of its own (check.cpp), and of a list (list_check.cpp); and
// the read-back: the read requests of records and the comparison of what came back with what was
// sent (readback.cpp). No sockets, no threads of its own: the virtual scale's servers, the fleet
// and the tool build on it.
//
// Thread safety: ScaleMemory may be shared by several threads (it locks itself); every function
// is safe to call from any thread at the same time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vudaduv::model {

// ---- A scale's memory ------------------------------------------------------------------------

// How a scale reads the message texts that it is sent: a scale is set up for one kind of text,
// as the plain exports (zone-position text) or the En exports (code-page text) talk to it.
// Message numbers above a type's code-page threshold are code-page text in either mode.
enum class TextMode { kZonePosition, kCodePage };

// The mode of a scale that the plain (en false) or the En exports talk to.
inline TextMode TextModeOf(bool en) {
    return en ? TextMode::kCodePage : TextMode::kZonePosition;
}

// The longest command line the scale takes, line end not counted; longer ones get "0eTOOLONG".
constexpr std::size_t kMaxCommandLineBytes = 8192;

// What the scale keeps and how it answers one command line. Thread-safe: several connections
// may share one memory.
class ScaleMemory {
  public:
    explicit ScaleMemory(TextMode mode = TextMode::kZonePosition);
    ~ScaleMemory();
    ScaleMemory(const ScaleMemory&) = delete;
    ScaleMemory& operator=(const ScaleMemory&) = delete;

    TextMode Mode() const;

    // One command line without its line end (a trailing CR is ignored) in, exactly one reply
    // line without its line end out.
    std::string Answer(std::string_view commandLine);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---- The classes of a scale's replies ---------------------------------------------------------

// Every reply line of a scale is one of three: an answer ("0" and a lower-case letter other than
// "e": "0v" to a download, "0u0012A..." to a read, "0fU0012" to the read of an empty slot), an
// error ("0e...": the scale refuses the command), or no scale's reply at all (anything else: a
// line of another device or program that answered in the scale's place).

// "0e...": the scale's answer that it refuses a command.
bool IsErrorReply(std::string_view reply);
// A scale's answer that is no error: "0" and a lower-case letter other than "e".
bool IsScaleAnswer(std::string_view reply);
// "0f" and the letter and number asked for: the read of an empty slot, an answer that gives no
// record.
bool IsEmptySlotReply(std::string_view reply);

// ---- Records ---------------------------------------------------------------------------------

// The one record model, for the check, the read-back of a send, the fleet and the tool alike:
// which types store records and how they are read, where a record lives (its key), the fields
// of its lines, the "same record" rule, and what a line of a scale image can hold.

// A text of the digits 0 to 9 alone, at least one.
bool AllDigits(std::string_view text);

// From the codec's record-type table: whether the type stores a record that can be read back,
// the read request that reads it (0 for none), and how its upload lines begin ("" for none).
bool StoresRecord(uint32_t recordType);
uint32_t ReadTypeOf(uint32_t recordType);
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

// A message with an empty text: it reads back as no line, and that is how it arrives.
bool IsEmptyMessage(uint32_t recordType, std::string_view line);

// The upload line of a read-back that belongs to the record, or nullptr.
const std::string* RecordLine(uint32_t recordType, const std::vector<std::string>& uploadLines);

// A data line as the library takes it: a C string, which ends at its first NUL byte.
std::string AsTheLibraryTakesIt(const std::string& line);

// The digits between a numbered command line's letter and its first "A" ("0012" of
// "!0V0012A..."): the record's number as the codec sent it.
std::string NumberOfCommand(const std::string& command);

// The number of the record that a data line of a numbered record type (1, 3, 5, 10) stores on
// the scale, as sent; nothing for other lines and for lines the library leaves out.
std::optional<std::string> NumberedRecordOf(uint32_t recordType, bool en, const std::string& line);

// The key of the record that a data line of a stored record type keeps on the scale: its
// number as sent for the numbered types (1, 3, 5, 10), "" for type 7 data and the key table,
// which a later line replaces whole; nothing for other lines and for lines the library leaves
// out.
std::optional<std::string> StoredRecordKeyOf(uint32_t recordType, bool en, const std::string& line);

// For every data line, the index of the last later line that stores the same record over it,
// or kNotOverwritten when none does: the scale keeps only the last.
constexpr std::size_t kNotOverwritten = static_cast<std::size_t>(-1);
std::vector<std::size_t> LinesStoredOverLater(uint32_t recordType, bool en,
                                              const std::vector<std::string>& lines);

// What in a line a file of lines cannot keep: "a line break" (LF), "a CR" or "a NUL", the
// first of them; "" when it holds none. Such a line reads back from a file split, cut or
// shortened by its CR, so it is no record of a scale image.
std::string WhatNoFileLineHolds(std::string_view line);

// What one data line does on a virtual scale of its own (below).
struct RoundTrip;

// Why the record that a round trip stores cannot be kept as a line of a scale image: its
// upload line (of recordLines, split at CR LF only, as a read of the scale splits it) holds a
// line break, a CR or a NUL that its decoded texts brought: "holds a CR, which an image line
// cannot hold". "" when it can be kept, and for a line that stores nothing.
std::string WhyNoImageLineHolds(uint32_t recordType, const RoundTrip& trip);

// Where a record lives on a scale: its record type and number (-1 for type 7 data and the key
// table, which have none).
struct RecordKey {
    uint32_t type = 0;
    int32_t number = -1;
};
bool operator<(const RecordKey& a, const RecordKey& b);
bool operator==(const RecordKey& a, const RecordKey& b);

// "item 0012", "message 05", "label 03", "key table", "type 7 data".
std::string RecordName(uint32_t recordType, const std::string& key);

// "item 0042", "message 05", "key table", ...
std::string KeyName(const RecordKey& key);

// A scale image: one upload line a record ("1P0042A..."), sorted by record type and number.
using Image = std::map<RecordKey, std::string>;

// The key of an upload line of a stored type; false when the line begins with none of their
// prefixes or its number is no number.
bool KeyOfUploadLine(const std::string& line, RecordKey& key);

// The key that a record's number as sent ("0012"; "" for a type without a number) gives: its
// value as the codec reads a number. A number sent as no number ("00-3", "-3") gives the value
// of its leading digits or a number below 0, which IsKeyOf tells apart.
RecordKey KeyOfNumberSent(uint32_t recordType, const std::string& numberSent);

// The record a data line of a stored record type keeps on a scale, read from its number as the
// codec sends it; false for a line the codec leaves out. The line need not be GBK text: the
// number comes first.
bool KeyOfDataLine(uint32_t recordType, bool en, const std::string& line, RecordKey& key);

// Whether a record's number as sent ("0012"; "" for a type without a number) names the key.
bool IsKeyOf(const RecordKey& key, const std::string& numberSent);

// A record with nothing after its number ("1P0042A", an empty message): it counts as no record.
bool HoldsNothing(const std::string& uploadLine);

// A field in which two upload lines of one record differ.
struct FieldChange {
    std::string field;  // "text 1", "fields", ...
    std::string before;
    std::string after;
};

// Every field in which b differs from a, both upload lines of the record at key: missing fields
// read as empty, the number compared by value.
std::vector<FieldChange> ChangedFields(const RecordKey& key, const std::string& a,
                                       const std::string& b);

// The "same record" rule: two upload lines that a scale holds alike, numbers by value, item
// texts missing at the end as empty ones, everything else byte for byte.
bool SameRecord(const std::string& a, const std::string& b);

// The data line that empties a record (the empty item "0042A"): the only removal the protocol
// offers. "" for a record type that has none (type 7 data, the key table).
std::string RemovalLine(const RecordKey& key);

// ---- The check of a data line ----------------------------------------------------------------

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

struct Finding {
    std::string field;  // "item number", "text 1", "message text", "line", ...
    std::string what;   // what happens to it, e.g. "5000 becomes 4000"
};

std::vector<Finding> CheckDataLine(uint32_t recordType, bool en, const std::string& line);

// What one data line does on a virtual scale of its own, taken as the library takes it (up to
// a NUL byte).
struct RoundTrip {
    bool rejected = false;                 // the codec leaves the line out
    std::vector<std::string> commands;     // its command lines, without CR LF
    std::string number;                    // the record's number as sent ("0012"); "" without
    std::vector<std::string> refusals;     // error replies of the scale to the commands
    std::vector<std::string> uploadLines;  // what its read-back leaves in the upload file
    // The same as the conversion writes them, each up to its CR LF: a CR or LF that a decoded
    // text holds stays inside (uploadLines splits at such an LF, as a reader of lines does).
    std::vector<std::string> recordLines;
};

RoundTrip RunRoundTrip(uint32_t recordType, bool en, const std::string& line);

// CheckDataLine of a line whose round trip (RunRoundTrip of the same line) was run already: a
// caller that needs the round trip as well runs it once.
std::vector<Finding> CheckRoundTrip(uint32_t recordType, bool en, const std::string& line,
                                    const RoundTrip& trip);

// Why the record of a line cannot come back whole from a scale: a field that is no text holds
// a blank, a tab or a CR, which split the scale's reply, and the read-back does not give it as
// written ("fields: a blank in it: comes back split"). "" when none does. Such a record is not
// sent by a sync: what would arrive is not what the line says.
std::string WhyComesBackSplit(uint32_t recordType, const std::string& line, const RoundTrip& trip);

// What happens to a field that was written as field.value and comes back as back.
std::string ExplainField(const Field& field, bool codePage, const std::string& back);

// The lines of a text as the tool and the programs that read upload files take them: split at
// LF, one CR before it removed; no line for the end of the text. The check and the read-back of
// a send split by this one rule, so that what the check foresees is what a read-back shows.
std::vector<std::string> SplitLines(std::string_view text);

// A command line without the CR LF at its end, if it has one.
std::string WithoutLineEnd(std::string line);

// A value for a message: control bytes as \xHH, long values cut around offset, in quotes.
std::string Quoted(const std::string& value, std::size_t offset = 0);

// ---- The check of a list ---------------------------------------------------------------------

// The one verdict on a list of data lines, whoever sends it (the tool's send, check and sync,
// the fleet's C library): lines that would not arrive on the scales as written. A list with
// findings is sent only when the caller accepts the changes.

// One finding of a list: the line (its index in the list), the record it names ("item 0042";
// "" for a line that names none), the field ("" when the finding is of the whole line's place)
// and what happens to it.
struct ListFinding {
    std::size_t line = 0;
    std::string record;
    std::string field;
    std::string what;
};

// The findings of a list in line order: each line's own (lineFindings[i], the check of its round
// trip), the finding of a line that cannot be sent at all (unsendable[i] when its what is not
// empty: no GBK form, a file's last line without a line end; such a line's own check is not
// looked at), and a line whose record a later line stores again, which overwrites it ("stored
// again by line N": N is the later line's number in numbers, its index when numbers is empty).
std::vector<ListFinding> FindingsOfList(uint32_t recordType, bool en,
                                        const std::vector<std::string>& lines,
                                        const std::vector<std::vector<Finding>>& lineFindings,
                                        const std::vector<Finding>& unsendable,
                                        const std::vector<std::size_t>& numbers = {});

// The same, each line that can be sent checked here (CheckDataLine).
std::vector<ListFinding> CheckList(uint32_t recordType, bool en,
                                   const std::vector<std::string>& lines,
                                   const std::vector<Finding>& unsendable = {},
                                   const std::vector<std::size_t>& numbers = {});

// The lines of a list that have a finding.
std::size_t LinesWithFindings(const std::vector<ListFinding>& findings);

// A text whose last line has no line end (LF): a file cut while it was written ends so, and its
// last line may have lost its end. An empty text, and one whose last line is blank, end well.
bool EndsWithoutLineEnd(std::string_view text);

// The finding of such a line: it is never sent, and its record is left alone on the scales.
Finding CutLastLineFinding();

// ---- Reading back and comparing ---------------------------------------------------------------

// Reading back what a download stored, and comparing it with the data lines as written. What
// each line should come back as is what the check foresaw (above): a difference it foresaw is
// the library's doing, any other the scale's.

// The read requests of records, in order: the one rule for the command lines that read records
// back, whoever reads (the fleet's pull, a sync's reads and its read-back, a send's --verify).
struct ReadRequests {
    std::vector<RecordKey> keys;             // the records read, in order
    std::vector<std::size_t> commandsOfKey;  // how many command lines each takes
    // Every command line, each with its CR LF, in the order of keys: one list that every scale
    // it goes to shares (a thousand scales read alike hold it once). Never nullptr.
    std::shared_ptr<const std::vector<std::string>> commands =
        std::make_shared<const std::vector<std::string>>();
};

// The data line of the read request of a record: its number as the codec writes it ("0042");
// none for type 7 data and the key table, whose reads take none. A number below 0 names no
// record (the scale refuses such a number): none either, and no read.
std::vector<std::string> ReadDataLines(const RecordKey& key);

// The read requests of the records at keys, in that order, each as the codec builds the read
// type's command lines of its data lines. A key without a read request (a number below 0, a type
// that stores nothing) is left out.
ReadRequests BuildReadRequests(const std::vector<RecordKey>& keys, bool en);

struct ExpectedRecord {
    std::string key;       // the record's number as sent; "" for type 7 data and the key table
    std::string sentLine;  // the data line that stored it (the last one, if several share a key)
    bool foreseenLine = false;  // the check's read-back gave a line for it
    std::string foreseen;       // that line
};

struct ReadBackPlan {
    uint32_t readType = 0;  // the matching read request
    // Its data lines (ReadDataLines of every record), for a read through the exports.
    std::vector<std::string> readLines;
    std::vector<ExpectedRecord> records;
    ReadRequests reads;                 // the command lines that read the records back
    std::vector<std::string> rejected;  // data lines the library does not send
};

// The plan of the read-back of dataLines of recordType: the records they store, each once in
// the order of its first line (a later line of the same record overwrites the earlier), what
// the check foresaw of each, and their read requests (BuildReadRequests of their keys).
ReadBackPlan PlanReadBack(uint32_t recordType, const std::vector<std::string>& dataLines, bool en);

struct Difference {
    std::string key;
    std::string field;       // "item number", "text 1", ...; "record" when nothing came back
    std::string sent;        // as written
    std::string back;        // as it came back
    bool missing = false;    // nothing came back for the record
    bool foreseen = false;   // the check said so before the send
    bool asWritten = false;  // it came back as written, where the check foresaw a change
};

struct ReadBackReport {
    // Fields that came back otherwise than written, or (back as written) otherwise than foreseen:
    // a record whose every difference was foreseen came back as foreseen.
    std::vector<Difference> differences;
    std::vector<std::string> otherLines;  // lines that belong to no record asked for
    std::size_t notAsForeseen = 0;        // records that did not come back as foreseen
};

ReadBackReport CompareReadBack(uint32_t recordType, const ReadBackPlan& plan,
                               const std::vector<std::string>& uploadLines);

// The one verdict on a record read back, for the read-back of a send and the sync alike: it came
// back as the check foresaw it. foreseen is the upload line foreseen, "" for nothing (a removal,
// a message sent empty); back is what came back, nullptr for nothing. A record that holds
// nothing counts as nothing; two lines are alike by the "same record" rule.
bool CameBackAsForeseen(const std::string& foreseen, const std::string* back);

}  // namespace vudaduv::model
