// A restore: an image's lines written to a scale that holds other records leave it holding the
// image, as a read of the same slots shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fleet_internal.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {
namespace {

void Answer(model::ScaleMemory& memory, const std::vector<std::string>& commands) {
    for (const std::string& command : commands) {
        EXPECT_TRUE(model::IsScaleAnswer(memory.Answer(model::WithoutLineEnd(command)))) << command;
    }
}

TEST(Restore, AScaleHoldsTheImageAfterItsRestoreWhateverItHeldBefore) {
    const std::vector<std::vector<std::string>> images = {
        {"1P0012A0100000599##Apple", "1P0042A5##Tea##Green", "3P05Ahello"},
        {"3P01Aone", "3P16Asixteen", "5P02Alabel", "5P03Alabel two"},
        {"1P0001A1", "1P0003A2##T##U##V", "1P4000A9"},
    };
    const std::vector<std::string> before = {"12A1##Pear", "42A7##Coffee", "1A3##Salt"};
    for (bool en : {false, true}) {
        for (const std::vector<std::string>& lines : images) {
            SCOPED_TRACE(lines[0]);
            Image image;
            std::string error;
            ASSERT_TRUE(ReadImage("i", lines, {}, image, error)) << error;
            std::vector<uint32_t> types;
            std::vector<std::string> dataLines;
            std::vector<RecordKey> slots;
            for (const auto& record : image) {
                types.push_back(record.first.type);
                dataLines.push_back(
                    record.second.substr(model::UploadPrefix(record.first.type).size()));
                slots.push_back(record.first);
            }
            model::ScaleMemory memory(model::TextModeOf(en));
            Answer(memory, BuildCommandList(1, before, en));
            Answer(memory, RestoreCommands(types, dataLines, en));
            ReadList reads = model::BuildReadRequests(slots, en);
            std::vector<std::string> replies;
            for (const std::string& command : *reads.commands) {
                replies.push_back(memory.Answer(model::WithoutLineEnd(command)));
            }
            ReadOutcome read = ReadReplies(reads, replies, 0, en);
            EXPECT_EQ(read.failure, "");
            EXPECT_TRUE(read.broken.empty());
            EXPECT_EQ(read.image, image);
        }
    }
}

TEST(Restore, AnEmptyItemLineEmptiesItsSlotAndNothingGivesNothing) {
    model::ScaleMemory memory;
    Answer(memory, BuildCommandList(1, {"7A1##Tea"}, false));
    std::vector<std::string> commands = RestoreCommands({1}, {"0007A"}, false);
    EXPECT_FALSE(commands.empty());
    Answer(memory, commands);
    ReadList reads = model::BuildReadRequests({{1, 7}}, false);
    std::vector<std::string> replies;
    for (const std::string& command : *reads.commands) {
        replies.push_back(memory.Answer(model::WithoutLineEnd(command)));
    }
    EXPECT_TRUE(ReadReplies(reads, replies, 0, false).image.empty());
    EXPECT_TRUE(RestoreCommands({}, {}, false).empty());
}

}  // namespace
}  // namespace vudaduv::fleet
