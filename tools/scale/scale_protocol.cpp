// The virtual scale's protocol: what it keeps and how it answers one command line.
//
// Every command line gets exactly one reply line (line ends not shown):
//   downloads                          "0" + the command letter in lower case
//     !0V nnnn A fields B c1 C c2 D c3 E   -> 0v   item 0..4000, kept as sent after "!0V"
//     !0X nn A code B / !0Z nn A code B    -> 0x / 0z   message 0..22 / 0..32
//     !0O data                             -> 0o   type 7 data, anything
//     !0P YYMMDDhhmm                       -> 0p   the clock, exactly 10 digits
//     !0T nn A text1 / !0R nn A text2      -> 0t / 0r   label 0..15
//     !0L 0i A <144 bytes> B               -> 0l   key-table block 0..3
//   reads of stored data
//     !0U nnnn A  -> 0u nnnn A fields B c1 C c2 D c3 E   (the "!0V" line as it came)
//     !0W nn A    -> 0w nn A code B    (code without its terminator, see below)
//     !0Y nn A    -> 0y nn A code B
//     !0N         -> 0n data E
//     !0S nn A    -> 0s nn A text1 sss   (sss: byte sum of the text modulo 1000)
//     !0Q nn A    -> 0q nn A text2 sss
//     !0K 0i A    -> 0k 0i A <144 bytes> B
//   reads of empty slots: 0f + the letter + the number digits as sent (0fU0012, 0fN, 0fK02)
//   errors: 0eNOTCOMMAND (no "!0" in front), 0eUNKNOWN (no such command letter),
//           0eMALFORMED (a number of the wrong width, not all digits or out of range, a missing
//           "A" or "B", a key block not of 144 bytes, a clock not of 10 digits, anything after a
//           read request), 0eTOOLONG (more than kMaxCommandLineBytes before the line end).
// Numbers have the widths the library writes (4 digits for items, 2 for everything else), so
// the digits of a reply are always the digits of the request. A trailing CR is ignored.
//
// A message code arrives closed by a terminator group, "0000" (zone-position text) or "000"
// (code-page text), and is read back without it. The scale does not know the text mode, so it
// reads it from the digits: numbers above 10 (type 3) or 16 (type 5) are always code-page text;
// otherwise a code fits an encoding when it is whole code groups that the library's encoder
// gives some character, at most 30 of them, followed by that encoding's terminator. A code that
// fits one encoding is read in it; one that fits both is read as zone-position text; one that
// fits neither (not sent by the library) comes back whole. Both fit only for a code-page code
// of 3, 7, 11, 15, 19, 23 or 27 characters whose last character's code ends in 0 and whose
// digits, read in groups of four, hold no group above 9723 (the highest zone-position code):
// such a message, sent with the En flag at a number that allows zone-position text, comes back
// one digit short.
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "vudaduv_codec.h"
#include "virtual_scale.h"

namespace vudaduv::scale {

namespace {

constexpr std::string_view kCommandPrefix = "!0";
constexpr std::string_view kNotCommand = "0eNOTCOMMAND";
constexpr std::string_view kUnknown = "0eUNKNOWN";
constexpr std::string_view kMalformed = "0eMALFORMED";
constexpr std::string_view kTooLong = "0eTOOLONG";

constexpr std::size_t kKeyBlockBytes = 144;
constexpr std::size_t kClockDigits = 10;

// Only the slots that hold something: a fleet of a thousand scales keeps little more than what
// was stored in them.
using Slots = std::map<int, std::string>;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view text) {
    for (char c : text) {
        if (!IsDigit(c)) return false;
    }
    return true;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

char LowerCase(char letter) {
    return static_cast<char>(letter - 'A' + 'a');
}

// The reply code of a command: "0" and its letter in lower case.
std::string ReplyCode(char letter) {
    return std::string("0") + LowerCase(letter);
}

std::string EmptySlotReply(char letter, std::string_view digits) {
    return std::string("0f") + letter + std::string(digits);
}

using CodeGroups = std::set<std::string, std::less<>>;

// The code groups an encoding gives one character: every text of one character (a byte below
// 0x80, a lead byte with any byte after it, a lead byte alone) through the library's encoder.
CodeGroups GroupsOfOneCharacter(std::string (*encode)(std::string_view)) {
    CodeGroups groups;
    for (int first = 0; first < 256; ++first) {
        std::string text(1, static_cast<char>(first));
        groups.insert(encode(text));
        if (first < 0x80) continue;
        for (int second = 0; second < 256; ++second) {
            groups.insert(encode(text + static_cast<char>(second)));
        }
    }
    groups.erase("");  // a character that the encoding leaves out
    return groups;
}

const CodeGroups& ZonePositionGroups() {
    static const CodeGroups groups = GroupsOfOneCharacter(EncodeZonePositionText);
    return groups;
}

const CodeGroups& CodePageGroups() {
    static const CodeGroups groups = GroupsOfOneCharacter(EncodeCodePageText);
    return groups;
}

// Whether the library could have sent code as a message in an encoding: whole code groups that
// the encoding gives characters, no more than a message keeps, then the encoding's terminator.
bool FitsMessageCode(std::string_view code, std::string_view terminator,
                     const CodeGroups& groups) {
    std::size_t width = terminator.size();
    if (code.size() % width != 0 || !EndsWith(code, terminator)) return false;
    if (code.size() / width - 1 > kMessageTextCharacters) return false;
    for (std::size_t at = 0; at + width < code.size(); at += width) {
        if (groups.find(code.substr(at, width)) == groups.end()) return false;
    }
    return true;
}

// The terminator of a message code, read from its digits as the comment at the top says.
std::size_t MessageTerminatorLength(std::string_view code, bool codePageOnly) {
    if (!codePageOnly && FitsMessageCode(code, kZonePositionTerminator, ZonePositionGroups())) {
        return kZonePositionTerminator.size();
    }
    if (FitsMessageCode(code, kCodePageTerminator, CodePageGroups())) {
        return kCodePageTerminator.size();
    }
    return 0;
}

// The three closing digits of a label-text reply: the byte sum modulo 1000.
std::string LabelChecksum(std::string_view text) {
    unsigned sum = 0;
    for (char c : text) sum = (sum + static_cast<unsigned char>(c)) % 1000;
    std::string digits = std::to_string(sum);
    return std::string(3 - digits.size(), '0') + digits;
}

// One family of numbered slots: a download command that fills them and the read that answers.
struct SlotFamily {
    char storeLetter;
    char readLetter;
    std::size_t digits;  // width of the number, as the library writes it
    int maximum;
    int codePageAbove;  // messages: numbers above it are always code-page text
    // What the download keeps from the text after the number's "A"; false: malformed.
    bool (*keep)(std::string_view digits, std::string_view payload, std::string& kept);
    // The read reply for a stored slot.
    std::string (*reply)(const SlotFamily& family, std::string_view digits, int number,
                         const std::string& kept);
};

bool KeepItem(std::string_view digits, std::string_view payload, std::string& kept) {
    if (payload.find('B') == std::string_view::npos) return false;
    kept = std::string(digits) + "A" + std::string(payload);
    return true;
}

std::string ItemReply(const SlotFamily& family, std::string_view, int, const std::string& kept) {
    return ReplyCode(family.readLetter) + kept;
}

bool KeepMessage(std::string_view, std::string_view payload, std::string& kept) {
    std::size_t end = payload.find('B');
    if (end == std::string_view::npos) return false;
    kept = std::string(payload.substr(0, end));
    return true;
}

std::string MessageReply(const SlotFamily& family, std::string_view digits, int number,
                         const std::string& kept) {
    std::size_t terminator = MessageTerminatorLength(kept, number > family.codePageAbove);
    return ReplyCode(family.readLetter) + std::string(digits) + "A" +
           kept.substr(0, kept.size() - terminator) + "B";
}

bool KeepLabelText(std::string_view, std::string_view payload, std::string& kept) {
    kept = std::string(payload);
    return true;
}

std::string LabelTextReply(const SlotFamily& family, std::string_view digits, int,
                           const std::string& kept) {
    return ReplyCode(family.readLetter) + std::string(digits) + "A" + kept + LabelChecksum(kept);
}

bool KeepKeyBlock(std::string_view, std::string_view payload, std::string& kept) {
    if (payload.size() != kKeyBlockBytes + 1 || payload.back() != 'B') return false;
    kept = std::string(payload.substr(0, kKeyBlockBytes));
    return true;
}

std::string KeyBlockReply(const SlotFamily& family, std::string_view digits, int,
                          const std::string& kept) {
    return ReplyCode(family.readLetter) + std::string(digits) + "A" + kept + "B";
}

constexpr SlotFamily kFamilies[] = {
    {'V', 'U', 4, kItemMaximum, 0, KeepItem, ItemReply},
    {'X', 'W', 2, kMessage3Maximum, kMessage3CodePageAbove, KeepMessage, MessageReply},
    {'Z', 'Y', 2, kMessage5Maximum, kMessage5CodePageAbove, KeepMessage, MessageReply},
    {'T', 'S', 2, kLabelMaximum, 0, KeepLabelText, LabelTextReply},
    {'R', 'Q', 2, kLabelMaximum, 0, KeepLabelText, LabelTextReply},
    {'L', 'K', 2, 3, 0, KeepKeyBlock, KeyBlockReply},
};
constexpr std::size_t kFamilyCount = sizeof(kFamilies) / sizeof(kFamilies[0]);

// The slot number in front of a numbered command's "A": exactly the family's width of digits,
// within range. On success number holds its value and payload what follows the "A".
bool ReadSlotNumber(const SlotFamily& family, std::string_view body, int& number,
                    std::string_view& payload) {
    if (body.size() <= family.digits || body[family.digits] != 'A') return false;
    std::string_view digits = body.substr(0, family.digits);
    if (!AllDigits(digits)) return false;
    number = 0;
    for (char c : digits) number = number * 10 + (c - '0');
    if (number > family.maximum) return false;
    payload = body.substr(family.digits + 1);
    return true;
}

}  // namespace

struct ScaleMemory::State {
    std::mutex mutex;
    Slots slots[kFamilyCount];
    std::optional<std::string> type7;
    std::optional<std::string> clock;

    std::string StoreInSlot(std::size_t f, std::string_view body) {
        const SlotFamily& family = kFamilies[f];
        int number = 0;
        std::string_view payload;
        std::string kept;
        if (!ReadSlotNumber(family, body, number, payload) ||
            !family.keep(body.substr(0, family.digits), payload, kept)) {
            return std::string(kMalformed);
        }
        slots[f][number] = std::move(kept);
        return ReplyCode(family.storeLetter);
    }

    std::string ReadSlot(std::size_t f, std::string_view body) {
        const SlotFamily& family = kFamilies[f];
        int number = 0;
        std::string_view payload;
        if (!ReadSlotNumber(family, body, number, payload) || !payload.empty()) {
            return std::string(kMalformed);
        }
        std::string_view digits = body.substr(0, family.digits);
        auto kept = slots[f].find(number);
        if (kept == slots[f].end()) return EmptySlotReply(family.readLetter, digits);
        return family.reply(family, digits, number, kept->second);
    }

    std::string StoreType7(std::string_view body) {
        type7 = std::string(body);
        return ReplyCode('O');
    }

    std::string ReadType7(std::string_view body) {
        if (!body.empty()) return std::string(kMalformed);
        if (!type7) return EmptySlotReply('N', "");
        return ReplyCode('N') + *type7 + "E";
    }

    std::string SetClock(std::string_view body) {
        if (body.size() != kClockDigits || !AllDigits(body)) return std::string(kMalformed);
        clock = std::string(body);
        return ReplyCode('P');
    }

    std::string Dispatch(char letter, std::string_view body) {
        for (std::size_t f = 0; f < kFamilyCount; ++f) {
            if (letter == kFamilies[f].storeLetter) return StoreInSlot(f, body);
            if (letter == kFamilies[f].readLetter) return ReadSlot(f, body);
        }
        switch (letter) {
            case 'O':
                return StoreType7(body);
            case 'N':
                return ReadType7(body);
            case 'P':
                return SetClock(body);
            default:
                return std::string(kUnknown);
        }
    }
};

ScaleMemory::ScaleMemory() : state_(std::make_unique<State>()) {}

ScaleMemory::~ScaleMemory() = default;

std::string ScaleMemory::Answer(std::string_view commandLine) {
    if (!commandLine.empty() && commandLine.back() == '\r') commandLine.remove_suffix(1);
    if (commandLine.size() > kMaxCommandLineBytes) return std::string(kTooLong);
    if (commandLine.substr(0, kCommandPrefix.size()) != kCommandPrefix) {
        return std::string(kNotCommand);
    }
    if (commandLine.size() == kCommandPrefix.size()) return std::string(kUnknown);
    char letter = commandLine[kCommandPrefix.size()];
    std::string_view body = commandLine.substr(kCommandPrefix.size() + 1);
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->Dispatch(letter, body);
}

}  // namespace vudaduv::scale
