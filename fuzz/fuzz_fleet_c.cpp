// The fleet's C library where it takes outside text: image texts (read, and compared with
// themselves and with another), and data lines for the check, in a GBK or a UTF-8 session.
// The first input byte chooses the session's encoding (bit 0), its code-page mode (bit 1) and the
// record type of the data lines (bits 4 to 7); the rest is split at its first NUL into two texts.
//
// Every call returns one of its documented codes; an image that is read gives rows that, written
// one a line, read again as the same rows; an image differs from itself nowhere; every finding
// names a line that was checked (a record type that stores nothing is refused); a text copied into
// a buffer too small for it is cut with a NUL and its whole length returned.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_driver.h"
#include "vudaduv_fleet_c.h"

namespace {

// A session made and freed around one input.
class Session {
  public:
    Session(uint32_t text, uint32_t en) {
        VDFleetOptions options{};
        options.size = sizeof options;
        options.text = text;
        options.en = en;
        FuzzCheck(VDFleetOpen(&options, &session_) == VDFLEET_OK, "a session opens");
    }
    ~Session() { VDFleetClose(session_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    VDFleetSession* get() const { return session_; }

  private:
    VDFleetSession* session_ = nullptr;
};

uint32_t Rows(VDFleetSession* session) {
    uint32_t count = 0;
    FuzzCheck(VDFleetResultCount(session, &count) == VDFLEET_OK, "the rows can be counted");
    return count;
}

// A text field whole, with the copying rule checked on a buffer too small for it.
std::string Text(VDFleetSession* session, uint32_t row, uint32_t field) {
    int32_t length = VDFleetResultText(session, row, field, nullptr, 0);
    FuzzCheck(length >= 0, "a row has its text fields");
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, 'x');
    FuzzCheck(VDFleetResultText(session, row, field, buffer.data(),
                                static_cast<uint32_t>(buffer.size())) == length &&
                  buffer[static_cast<std::size_t>(length)] == '\0',
              "a text copied whole ends with a NUL");
    char small[3] = {'x', 'x', 'x'};
    FuzzCheck(VDFleetResultText(session, row, field, small, sizeof small) == length,
              "a text cut short returns its whole length");
    // Cut at a character's boundary: a prefix of the whole text, ended by a NUL in the buffer.
    auto kept = static_cast<std::size_t>(std::find(small, small + sizeof small, '\0') - small);
    FuzzCheck(kept <= std::min<std::size_t>(static_cast<std::size_t>(length), 2) &&
                  std::string(buffer.data(), kept) == std::string(small, kept),
              "a text cut short is a prefix of it, ended with a NUL in the buffer");
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::vector<std::string> Records(VDFleetSession* session) {
    std::vector<std::string> records;
    for (uint32_t row = 0; row < Rows(session); ++row) {
        records.push_back(Text(session, row, VDFLEET_RECORD));
    }
    return records;
}

void CheckImage(VDFleetSession* session, const std::string& text) {
    int32_t code = VDFleetReadImage(session, text.c_str());
    FuzzCheck(code == VDFLEET_OK || code == VDFLEET_E_TEXT, "an image is read or refused as text");
    if (code != VDFLEET_OK) {
        FuzzCheck(Rows(session) == 0, "a refused image leaves no rows");
        FuzzCheck(VDFleetLastError(session, nullptr, 0) > 0, "a refused image says why");
        return;
    }
    std::vector<std::string> records = Records(session);
    std::string written;
    for (const std::string& record : records) written += record + "\n";
    FuzzCheck(
        VDFleetReadImage(session, written.c_str()) == VDFLEET_OK && Records(session) == records,
        "an image's rows written one a line read again as the same rows");
    FuzzCheck(
        VDFleetDiff(session, text.c_str(), written.c_str()) == VDFLEET_OK && Rows(session) == 0,
        "an image differs nowhere from its rows written again");
}

void CheckDiff(VDFleetSession* session, const std::string& a, const std::string& b) {
    int32_t code = VDFleetDiff(session, a.c_str(), b.c_str());
    FuzzCheck(code == VDFLEET_OK || code == VDFLEET_E_TEXT, "a diff is made or refused as text");
    for (uint32_t row = 0; row < Rows(session); ++row) {
        int64_t kind = 0;
        FuzzCheck(VDFleetResultNumber(session, row, VDFLEET_KIND, &kind) == VDFLEET_OK &&
                      kind >= VDFLEET_ADDED && kind <= VDFLEET_CHANGED,
                  "every row of a diff is of a kind");
        Text(session, row, VDFLEET_BEFORE);
        Text(session, row, VDFLEET_AFTER);
    }
}

void CheckLines(VDFleetSession* session, uint32_t recordType, const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> pointers;
    for (const std::string& line : lines) pointers.push_back(line.c_str());
    int32_t code = VDFleetCheck(session, recordType, pointers.empty() ? nullptr : pointers.data(),
                                static_cast<uint32_t>(pointers.size()));
    // The stored record types of VDFleetCheck's comment; any other is refused as an argument.
    constexpr uint32_t kStored[] = {1, 3, 5, 7, 10, 12};
    bool stored =
        std::find(std::begin(kStored), std::end(kStored), recordType) != std::end(kStored);
    FuzzCheck(stored ? code == VDFLEET_OK || code == VDFLEET_E_TEXT : code == VDFLEET_E_ARGUMENT,
              "lines of a stored type are checked or refused as text, other types refused");
    for (uint32_t row = 0; row < Rows(session); ++row) {
        int64_t line = -1;
        FuzzCheck(VDFleetResultNumber(session, row, VDFLEET_LINE, &line) == VDFLEET_OK &&
                      line >= 0 && static_cast<std::size_t>(line) < lines.size(),
                  "every finding names a line that was checked");
        Text(session, row, VDFLEET_WHAT);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    uint8_t choice = input.Byte();
    std::string rest(input.Rest());
    std::size_t nul = rest.find('\0');
    std::string first = rest.substr(0, nul);
    std::string second = nul == std::string::npos ? "" : rest.substr(nul + 1);
    second = second.substr(0, second.find('\0'));
    Session session(choice & 1u, (choice >> 1) & 1u);
    CheckImage(session.get(), first);
    CheckDiff(session.get(), first, second);
    CheckLines(session.get(), choice >> 4, first);
    return 0;
}
