// What the two C entry points make of their callers' records before the core sees them: the
// command lines of a string list and the settings of a target record's value slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "c_entry/record_lists.h"
#include "c_entry/send_settings.h"
#include "wqdatasend.h"

namespace transport_test {
namespace {

using vudaduv::transport::ReadCommandLines;
using vudaduv::transport::ReadSendSettings;
using vudaduv::transport::SendSettings;

TEST(CEntry, CommandLinesLeaveOutEmptyAndNullStrings) {
    const char* lines[] = {"!0A1\r\n", "", nullptr, "!0A2\r\n"};
    const struct {
        WQStringList list;
        std::vector<std::string> commands;
    } cases[] = {
        {{lines, 4}, {"!0A1\r\n", "!0A2\r\n"}},
        {{lines, 1}, {"!0A1\r\n"}},
        {{lines + 1, 2}, {}},
        {{nullptr, 3}, {}},
        {{lines, 0}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadCommandLines(c.list), c.commands);
}

TEST(CEntry, ValueSlotsGiveTheSettingsAndZeroKeepsTheDefault) {
    const SendSettings defaults;
    const struct {
        std::vector<std::uint32_t> values;
        std::uint32_t replyMs, connectMs;
        std::uint64_t tries;
        std::uint32_t port;
        std::uint64_t longest;
        std::uint32_t pauseMs;
    } cases[] = {
        {{}, 3000, 3000, 3, WQDS_DEFAULT_PORT, 65536, 500},
        {{0, 0, 0, 0, 0, 0}, 3000, 3000, 3, WQDS_DEFAULT_PORT, 65536, 500},
        {{250}, 250, 3000, 3, WQDS_DEFAULT_PORT, 65536, 500},
        {{1, 2, 3, 4, 5, 6}, 1, 2, 4, 4, 5, 6},
        {{0, 0, WQDS_NO_RETRIES}, 3000, 3000, 1, WQDS_DEFAULT_PORT, 65536, 500},
        {{0, 0, WQDS_NO_RETRIES - 1},
         3000,
         3000,
         std::uint64_t{WQDS_NO_RETRIES},
         WQDS_DEFAULT_PORT,
         65536,
         500},
        {{0, 0, 0, 70000, 0, 0, 99}, 3000, 3000, 3, 70000, 65536, 500},
    };
    for (const auto& c : cases) {
        WQValueList list{c.values.empty() ? nullptr : c.values.data(),
                         static_cast<std::uint32_t>(c.values.size())};
        SendSettings settings = ReadSendSettings(list);
        SCOPED_TRACE(c.values.size());
        EXPECT_EQ(settings.replyTimeoutMs, c.replyMs);
        EXPECT_EQ(settings.connectTimeoutMs, c.connectMs);
        EXPECT_EQ(settings.tries, c.tries);
        EXPECT_EQ(settings.defaultPort, c.port);
        EXPECT_EQ(settings.longestReply, c.longest);
        EXPECT_EQ(settings.firstRetryPauseMs, c.pauseMs);
    }
    // A count beyond a NULL array reads as no values at all.
    SendSettings none = ReadSendSettings(WQValueList{nullptr, 6});
    EXPECT_EQ(none.tries, defaults.tries);
    EXPECT_EQ(none.replyTimeoutMs, defaults.replyTimeoutMs);
}

}  // namespace
}  // namespace transport_test
