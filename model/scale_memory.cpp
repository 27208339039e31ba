// A scale's memory: what it keeps and how it answers one command line. The virtual scale's
// servers answer through it, and the check runs every data line through a memory of its own.
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
// (code-page text), and is read back without it. The scale knows its text mode, as a scale set
// up for one kind of text does: numbers above 10 (type 3) or 16 (type 5) are always code-page
// text; the others are text of the scale's mode. A code that does not end in its terminator (not
// sent by the library) comes back whole.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vudaduv_codec.h"
#include "vudaduv_model.h"

namespace vudaduv::model {

namespace {

constexpr std::string_view kCommandPrefix = "!0";
constexpr std::string_view kNotCommand = "0eNOTCOMMAND";
constexpr std::string_view kUnknown = "0eUNKNOWN";
constexpr std::string_view kMalformed = "0eMALFORMED";
constexpr std::string_view kTooLong = "0eTOOLONG";

constexpr std::size_t kKeyBlockBytes = 144;
constexpr std::size_t kClockDigits = 10;

// A family's slots, indexed by number, up to the highest number stored so far: a scale keeps
// little more than what was stored in it, and a store or a read finds its slot at once.
using Slots = std::vector<std::optional<std::string>>;

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

// The terminator of a message code: that of its text's encoding, when the code ends in it.
std::size_t MessageTerminatorLength(std::string_view code, bool codePage) {
    std::string_view terminator = codePage ? kCodePageTerminator : kZonePositionTerminator;
    return EndsWith(code, terminator) ? terminator.size() : 0;
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
    using Keep = bool (*)(std::string_view digits, std::string_view payload, std::string& kept);
    Keep keep;
    // The read reply for a stored slot.
    using Reply = std::string (*)(const SlotFamily& family, std::string_view digits, int number,
                                  const std::string& kept, TextMode mode);
    Reply reply;
};

using Keep = SlotFamily::Keep;
using Reply = SlotFamily::Reply;

bool KeepItem(std::string_view digits, std::string_view payload, std::string& kept) {
    if (payload.find('B') == std::string_view::npos) return false;
    kept.assign(digits).append(1, 'A').append(payload);
    return true;
}

std::string ItemReply(const SlotFamily& family, std::string_view, int, const std::string& kept,
                      TextMode) {
    return ReplyCode(family.readLetter) + kept;
}

bool KeepMessage(std::string_view, std::string_view payload, std::string& kept) {
    std::size_t end = payload.find('B');
    if (end == std::string_view::npos) return false;
    kept.assign(payload.substr(0, end));
    return true;
}

std::string MessageReply(const SlotFamily& family, std::string_view digits, int number,
                         const std::string& kept, TextMode mode) {
    bool codePage = mode == TextMode::kCodePage || number > family.codePageAbove;
    std::size_t terminator = MessageTerminatorLength(kept, codePage);
    return ReplyCode(family.readLetter) + std::string(digits) + "A" +
           kept.substr(0, kept.size() - terminator) + "B";
}

bool KeepLabelText(std::string_view, std::string_view payload, std::string& kept) {
    kept.assign(payload);
    return true;
}

std::string LabelTextReply(const SlotFamily& family, std::string_view digits, int,
                           const std::string& kept, TextMode) {
    return ReplyCode(family.readLetter) + std::string(digits) + "A" + kept + LabelChecksum(kept);
}

bool KeepKeyBlock(std::string_view, std::string_view payload, std::string& kept) {
    if (payload.size() != kKeyBlockBytes + 1 || payload.back() != 'B') return false;
    kept.assign(payload.substr(0, kKeyBlockBytes));
    return true;
}

std::string KeyBlockReply(const SlotFamily& family, std::string_view digits, int,
                          const std::string& kept, TextMode) {
    return ReplyCode(family.readLetter) + std::string(digits) + "A" + kept + "B";
}

// A family of the slots of a stored record type, its letters and number from the codec's
// table; part picks the command of a type that sends two (label text 1 and 2).
SlotFamily FamilyOf(uint32_t storedType, std::size_t part, Keep keep, Reply reply) {
    const RecordType& stored = RecordTypeOf(storedType);
    const RecordType& read = RecordTypeOf(stored.partner);
    return {stored.commands[part],
            read.commands[part],
            stored.numberWidth,
            stored.numberMaximum,
            stored.codePageAbove,
            keep,
            reply};
}

// The key table's four blocks are numbered like slots: "0" and the block, 0 to 3.
SlotFamily KeyBlockFamily() {
    const RecordType& stored = RecordTypeOf(12);
    return {stored.commands[0],
            RecordTypeOf(stored.partner).commands[0],
            2,
            static_cast<int>(std::string_view(stored.commands).size()) - 1,
            0,
            KeepKeyBlock,
            KeyBlockReply};
}

const std::vector<SlotFamily>& Families() {
    static const std::vector<SlotFamily> families = {
        FamilyOf(1, 0, KeepItem, ItemReply),
        FamilyOf(3, 0, KeepMessage, MessageReply),
        FamilyOf(5, 0, KeepMessage, MessageReply),
        FamilyOf(10, 0, KeepLabelText, LabelTextReply),
        FamilyOf(10, 1, KeepLabelText, LabelTextReply),
        KeyBlockFamily(),
    };
    return families;
}

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
    explicit State(TextMode m) : mode(m), slots(Families().size()) {}

    TextMode mode;
    std::mutex mutex;
    std::vector<Slots> slots;
    std::string scratch;  // what a store keeps, before it goes into its slot
    std::optional<std::string> type7;
    std::optional<std::string> clock;

    std::string StoreInSlot(std::size_t f, std::string_view body) {
        const SlotFamily& family = Families()[f];
        int number = 0;
        std::string_view payload;
        if (!ReadSlotNumber(family, body, number, payload) ||
            !family.keep(body.substr(0, family.digits), payload, scratch)) {
            return std::string(kMalformed);
        }
        Slots& familySlots = slots[f];
        auto index = static_cast<std::size_t>(number);
        if (index >= familySlots.size()) familySlots.resize(index + 1);
        // The slot's old text becomes the next store's scratch, so an overwrite allocates
        // nothing when it fits.
        if (familySlots[index]) {
            familySlots[index]->swap(scratch);
        } else {
            familySlots[index] = std::move(scratch);
            scratch = std::string();
        }
        return ReplyCode(family.storeLetter);
    }

    std::string ReadSlot(std::size_t f, std::string_view body) {
        const SlotFamily& family = Families()[f];
        int number = 0;
        std::string_view payload;
        if (!ReadSlotNumber(family, body, number, payload) || !payload.empty()) {
            return std::string(kMalformed);
        }
        std::string_view digits = body.substr(0, family.digits);
        auto index = static_cast<std::size_t>(number);
        if (index >= slots[f].size() || !slots[f][index]) {
            return EmptySlotReply(family.readLetter, digits);
        }
        return family.reply(family, digits, number, *slots[f][index], mode);
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
        const std::vector<SlotFamily>& families = Families();
        for (std::size_t f = 0; f < families.size(); ++f) {
            if (letter == families[f].storeLetter) return StoreInSlot(f, body);
            if (letter == families[f].readLetter) return ReadSlot(f, body);
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

ScaleMemory::ScaleMemory(TextMode mode) : state_(std::make_unique<State>(mode)) {}

TextMode ScaleMemory::Mode() const {
    return state_->mode;
}

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

}  // namespace vudaduv::model
