// The fleet's entries that take outside bytes: the text of a scale image, and a list of data
// lines. The first input byte chooses the En flag (its high bit) and what the rest is: an image
// when its low four bits name no stored record type, else data lines of that type, one a line.
//
// An image that is read is written and read again as the same image, and is taken or refused
// whatever the order of its lines. The records a list asks for make an image that reads back the
// same; what is sent of a record is the line as the library takes it; a record that the fleet
// keeps comes back from a scale, read the way a pull reads it, as the line foreseen (or named in
// pieces), and one it cannot keep is named by the check.
#include <algorithm>
#include <string>
#include <vector>

#include "fleet_internal.h"
#include "fuzz_driver.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"
#include "vudaduv_model.h"

namespace {

using vudaduv::fleet::Image;
using vudaduv::fleet::RecordKey;
using vudaduv::fleet::Wanted;
using vudaduv::fleet::WantedList;

// The lines of a text as ReadImageText takes them: split at LF, one CR before it removed,
// blank lines left out.
std::vector<std::string> ImageLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::string& line : vudaduv::model::SplitLines(text)) {
        if (!line.empty()) lines.push_back(std::move(line));
    }
    return lines;
}

// Written and read again, the image is the same.
void CheckRewritten(const Image& image, const char* property) {
    Image again;
    std::string error;
    FuzzCheck(
        vudaduv::fleet::ReadImageText("again", vudaduv::fleet::WriteImage(image), again, error),
        property);
    FuzzCheck(again == image, property);
}

void CheckImageText(const std::string& text, bool en) {
    Image image;
    std::string error;
    bool taken = vudaduv::fleet::ReadImageText("image", text, image, error);
    std::vector<std::string> lines = ImageLines(text);
    std::reverse(lines.begin(), lines.end());
    Image reversed;
    FuzzCheck(vudaduv::fleet::ReadImage("image", lines, {}, reversed, error) == taken,
              "an image is taken or refused whatever the order of its lines");
    if (!taken) return;
    FuzzCheck(reversed == image, "an image read in any order holds the same records");
    CheckRewritten(image, "an image read, written and read again is the same image");
    CheckRewritten(vudaduv::fleet::ImageOf(vudaduv::fleet::WantedOfImage(image, en)),
                   "the image an image asks for reads back the same");
}

// A command line as the scale reads it off the wire: up to its LF, so that a CR of the line's
// own stays in it.
std::string WithoutLf(const std::string& command) {
    return command.substr(0, command.size() - 1);
}

// What a pull reads of the record from a scale that was sent its data line alone.
vudaduv::fleet::ReadOutcome ReadFromScale(const RecordKey& key, const Wanted& wanted, bool en) {
    vudaduv::model::ScaleMemory memory(vudaduv::model::TextModeOf(en));
    for (const std::string& command : vudaduv::BuildCommandList(key.type, {wanted.dataLine}, en)) {
        memory.Answer(WithoutLf(command));
    }
    vudaduv::fleet::ReadList list = vudaduv::model::BuildReadRequests({key}, en);
    std::vector<std::string> replies;
    for (const std::string& command : *list.commands) {
        replies.push_back(memory.Answer(WithoutLf(command)));
    }
    return vudaduv::fleet::ReadReplies(list, replies, 0, en);
}

void CheckKept(const RecordKey& key, const Wanted& wanted, bool en) {
    vudaduv::fleet::ReadOutcome read = ReadFromScale(key, wanted, en);
    if (!read.failure.empty()) return;  // the scale refused the line: nothing to compare
    CheckRewritten(read.image, "what a pull reads of a scale reads back the same from its image");
    for (const std::string& broken : read.broken) {
        FuzzCheck(broken.find(": came back in ") != std::string::npos,
                  "a record the fleet keeps is named broken only for coming back in pieces");
    }
    if (!read.broken.empty()) return;
    auto held = read.image.find(key);
    FuzzCheck(held != read.image.end() && held->second == wanted.line,
              "a record the fleet keeps comes back as the line foreseen");
}

void CheckDataLines(uint32_t recordType, const std::string& text, bool en) {
    std::vector<std::string> lines = ImageLines(text);
    WantedList list = vudaduv::fleet::WantedOfDataLines(recordType, en, lines);
    CheckRewritten(vudaduv::fleet::ImageOf(list), "the image a list asks for reads back the same");
    for (const auto& record : list) {
        const Wanted& wanted = record.second;
        FuzzCheck(wanted.dataLine.find('\0') == std::string::npos,
                  "what is sent of a record is the line as the library takes it");
        if (!wanted.unkeepable.empty()) {
            FuzzCheck(!vudaduv::model::CheckDataLine(recordType, en, wanted.dataLine).empty(),
                      "the check names a record that no image line can hold");
            continue;
        }
        CheckKept(record.first, wanted, en);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    uint8_t choice = input.Byte();
    uint32_t recordType = choice & 0x0F;
    bool en = (choice & 0x80) != 0;
    std::string text(input.Rest());
    if (vudaduv::model::StoresRecord(recordType)) {
        CheckDataLines(recordType, text, en);
    } else {
        CheckImageText(text, en);
    }
    return 0;
}
