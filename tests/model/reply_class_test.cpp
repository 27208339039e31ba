// The classes of a scale's replies: an answer (an empty slot's among them), an error, or no
// scale's reply at all. One table.
#include <gtest/gtest.h>

#include <string>

#include "vudaduv_model.h"

namespace vudaduv::model {
namespace {

struct ReplyCase {
    std::string reply;
    bool answer;
    bool error;
    bool emptySlot;
};

const ReplyCase kReplyCases[] = {
    {"0v", true, false, false},
    {"0u0012A1BCDE", true, false, false},
    {"0fU0012", true, false, true},  // a read of an empty slot answers, with no record
    {"0fN", true, false, true},
    {"0eMALFORMED", false, true, false},
    {"0e", false, true, false},
    {"0E", false, false, false},  // upper case: no scale writes it
    {"0", false, false, false},
    {"", false, false, false},
    {"HTTP/1.1 400 Bad Request", false, false, false},
    {"1v", false, false, false},
};

TEST(ReplyClassTable, EveryReplyInOneClass) {
    for (const ReplyCase& c : kReplyCases) {
        EXPECT_EQ(IsScaleAnswer(c.reply), c.answer) << Quoted(c.reply);
        EXPECT_EQ(IsErrorReply(c.reply), c.error) << Quoted(c.reply);
        EXPECT_EQ(IsEmptySlotReply(c.reply), c.emptySlot) << Quoted(c.reply);
        EXPECT_FALSE(c.answer && c.error) << Quoted(c.reply);
    }
}

}  // namespace
}  // namespace vudaduv::model
