// The vudaduv tool run as a process, scenario by scenario: arguments, standard input and files
// in, exit status and output out.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "loopback_socket.h"
#include "scripted_peer.h"
#include "temp_directory.h"
#include "tool_process.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace vudaduv::cli::test {
namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::TempDirectory;
using vudaduv::testing::WriteWholeFile;
using PeerAnswer = transport_test::PeerAnswer;
using PeerEvent = transport_test::PeerEvent;
// A scale on a loopback port that does what its script says with each command line.
using ScriptedScale = transport_test::LoopbackPeer;

struct Expect {
    bool exact;
    std::string text;
};

Expect Exact(std::string text) {
    return {true, std::move(text)};
}
Expect Contains(std::string text) {
    return {false, std::move(text)};
}
const Expect kAnything{false, ""};

struct Scenario {
    const char* name;
    std::vector<std::string> args;  // "{port}", "{pty}", "{closed}" stand for the scale's places
    std::string input;
    int status;
    Expect out;
    Expect err = kAnything;
    std::vector<std::pair<std::string, std::string>> files = {};  // written before the run
};

void PrintTo(const Scenario& scenario, std::ostream* os) {
    *os << scenario.name;
}

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) {
    return info.param.name;
}

void ExpectOutput(const char* stream, const Expect& expect, const std::string& actual) {
    if (expect.exact) {
        EXPECT_EQ(actual, expect.text) << stream;
    } else {
        EXPECT_NE(actual.find(expect.text), std::string::npos)
            << stream << " lacks \"" << expect.text << "\":\n"
            << actual;
    }
}

// Places of the scale in the arguments.
struct Places {
    unsigned port = 0;
    std::string pty;
    unsigned closed = 0;
};

std::string Substitute(std::string arg, const Places& places) {
    const std::pair<std::string, std::string> marks[] = {
        {"{port}", std::to_string(places.port)},
        {"{pty}", places.pty},
        {"{closed}", std::to_string(places.closed)},
    };
    for (const auto& [mark, value] : marks) {
        for (std::size_t at = arg.find(mark); at != std::string::npos; at = arg.find(mark)) {
            arg.replace(at, mark.size(), value);
        }
    }
    return arg;
}

void RunScenario(const Scenario& scenario, const Places& places) {
    for (const auto& [name, bytes] : scenario.files)
        WriteWholeFile(name.c_str(), Substitute(bytes, places));
    std::vector<std::string> args;
    for (const std::string& arg : scenario.args) args.push_back(Substitute(arg, places));
    ToolRun run = RunTool(args, scenario.input);
    EXPECT_EQ(run.status, scenario.status) << "stdout:\n" << run.out << "stderr:\n" << run.err;
    ExpectOutput("stdout", scenario.out, run.out);
    ExpectOutput("stderr", scenario.err, run.err);
}

// 568 bytes of key table: 142 keys of four digits.
std::string KeyTable() {
    std::string table;
    for (int key = 1000; key < 1142; ++key) table += std::to_string(key);
    return table;
}

const std::string kReplyFile =
    "0v\r\n0u0012A1B03330334CDE\r\n0s03Ahello123\r\n0q03Aworld456\r\n0w05A03720373B\r\n"
    "0fU0013 0eUNKNOWN\n0nPLU 7E";

// ---------------------------------------------------------------------------------------------
// Without a scale: help, bad arguments, unreadable files, encode and decode.

class ToolScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(ToolScenario, Runs) {
    TempDirectory directory;
    RunScenario(GetParam(), Places{});
}

const Scenario kHelpScenarios[] = {
    {"ToolHelp", {"--help"}, "", 0, Contains("Usage: vudaduv COMMAND")},
    {"ToolShortHelp", {"-h"}, "", 0, Contains("Commands:")},
    {"SendHelp", {"send", "--help"}, "", 0, Contains("Usage: vudaduv send")},
    {"EncodeHelp", {"encode", "-h"}, "", 0, Contains("Usage: vudaduv encode")},
    {"DecodeHelp", {"decode", "--help"}, "", 0, Contains("Usage: vudaduv decode")},
    {"ScaleHelp", {"scale", "--help"}, "", 0, Contains("Usage: vudaduv scale")},
    {"DemoHelp", {"demo", "--help"}, "", 0, Contains("Usage: vudaduv demo")},
    {"HelpWinsOverMissingType", {"encode", "--help"}, "", 0, Contains("Record types")},
    {"HelpOfACommand", {"help", "send"}, "", 0, Contains("Usage: vudaduv send")},
    {"HelpOfNoCommand", {"help", "frobnicate"}, "", 2, Exact(""), Contains("unknown command")},
};
INSTANTIATE_TEST_SUITE_P(Help, ToolScenario, ::testing::ValuesIn(kHelpScenarios), ScenarioName);

// Every help fits a terminal of 80 columns; send's shows the transport's defaults.
TEST(Help, FitsEightyColumns) {
    TempDirectory directory;
    for (const char* command : {"--help", "send", "check", "encode", "decode", "scale", "demo"}) {
        std::vector<std::string> args{command};
        if (args[0] != "--help") args.push_back("--help");
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.status, 0) << command;
        std::size_t start = 0;
        while (start < run.out.size()) {
            std::size_t end = run.out.find('\n', start);
            if (end == std::string::npos) end = run.out.size();
            EXPECT_LE(end - start, 80u) << command << ": " << run.out.substr(start, end - start);
            start = end + 1;
        }
        if (args[0] == "send") {
            EXPECT_NE(run.out.find("(default 3000)"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("(default 2)"), std::string::npos) << run.out;
        }
    }
}

// The bash completion offers every command of the tool's help and every option of each
// command's help.
TEST(Help, BashCompletionKnowsEveryCommandAndOption) {
    TempDirectory directory;
    std::string completion = ReadWholeFile(VUDADUV_COMPLETION_FILE);
#ifdef _WIN32
    if (completion.empty()) GTEST_SKIP() << "the sources are not reachable from here";
#endif
    ASSERT_FALSE(completion.empty());
    auto offered = [&completion](const std::string& word) {
        return std::regex_search(completion, std::regex("(^|[\\s\"])" + word + "($|[\\s\"|)])"));
    };
    ToolRun tool = RunTool({"--help"});
    std::istringstream commands(tool.out.substr(tool.out.find("Commands:")));
    const std::regex commandLine(R"(^  ([a-z]+) +\S)");
    const std::regex optionLine(R"(^ +(?:-h, )?(--[a-z-]+))");
    std::size_t seen = 0;
    for (std::string command; std::getline(commands, command) && !command.empty();) {
        std::smatch name;
        if (!std::regex_search(command, name, commandLine)) continue;
        ++seen;
        EXPECT_TRUE(offered(name[1])) << name[1];
        std::istringstream lines(RunTool({name[1], "--help"}).out);
        for (std::string line; std::getline(lines, line);) {
            std::smatch option;
            if (std::regex_search(line, option, optionLine)) {
                EXPECT_TRUE(offered(option[1])) << name[1] << " " << option[1];
            }
        }
    }
    EXPECT_GE(seen, 6u);
}

const Scenario kCheckScenarios[] = {
    {"CheckPasses", {"check", "--type", "1"}, "12A0100##Apple\n13A1\n", 0, Exact(""), Exact("")},
    {"CheckNamesARecordStoredTwice",
     {"check", "--type", "10"},
     "3AxBy\n4AxBy\n03AzBy\n",
     4,
     Exact("-:1: line: the same record is stored again by line 3, which overwrites it\n"),
     kAnything},
    {"CheckReportsPlaces",
     {"check", "--type", "3", "--file", "data.txt", "--charset", "UTF-8"},
     "",
     4,
     Exact("data.txt:3: message text: characters \"\xe6\xac\xa2\xe8\xbf\x8e\" cannot be sent "
           "in code-page text\ndata.txt:4: message number: 40 becomes 22\n"),
     Exact("vudaduv check: data.txt:2: blank line skipped\n"
           "vudaduv check: 2 of 3 data line(s) would not arrive as written\n"),
     {{"data.txt", "5Ahi\r\n\r\n11A\xe6\xac\xa2\xe8\xbf\x8e\r\n40Ahi\r\n"}}},
    {"CheckNamesTheCharacterGbkLacks",
     {"check", "--type", "1", "--charset", "UTF-8"},
     "72A01##\xf0\x9f\x8d\x8e##x\n5000A1\n",
     4,
     Exact("-:1: line: \"\xf0\x9f\x8d\x8e\" (U+1F34E) at byte 8 is a character that GBK lacks: "
           "it cannot be sent\n-:2: item number: 5000 becomes 4000\n")},
    {"CheckNamesALaterType7Line",
     {"check", "--type", "7"},
     "a\nb\n",
     4,
     Exact("-:1: line: the same record is stored again by line 2, which overwrites it\n")},
};
INSTANTIATE_TEST_SUITE_P(Check, ToolScenario, ::testing::ValuesIn(kCheckScenarios), ScenarioName);

#ifndef _WIN32
// Output that cannot be written is a failure.
TEST(Output, FullDeviceIsAFailure) {
    TempDirectory directory;
    ToolRun run = RunTool({"encode", "--type", "2"}, "12\n", "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write to standard output: No space left"), std::string::npos)
        << run.err;
}

// A fleet whose addresses cannot be written serves no one.
TEST(Output, FleetWithoutItsAddressesStops) {
    TempDirectory directory;
    ToolRun run = RunTool({"scale", "--count", "2"}, "", "/dev/full");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the addresses could not be written"), std::string::npos) << run.err;
}

// Without --charset the locale's character set applies; the C and POSIX locales read UTF-8, and
// GBK bytes there are named with a hint.
TEST(Charset, DefaultsToTheLocale) {
    TempDirectory directory;
    const char* saved = std::getenv("LC_ALL");
    std::string old = saved != nullptr ? saved : "";
    std::vector<ToolRun> utf8;
    for (const char* locale : {"C.UTF-8", "C", "POSIX"}) {
        setenv("LC_ALL", locale, 1);
        utf8.push_back(RunTool({"encode", "--type", "1"}, "5A##\xe5\x95\x8a\n"));
    }
    ToolRun gbk = RunTool({"check", "--type", "1"}, "5A##\xb0\xa1\n6A\n");
    if (saved != nullptr) {
        setenv("LC_ALL", old.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    for (const ToolRun& run : utf8) EXPECT_EQ(run.out, "!0V0005AB1601CDE\n") << run.err;
    EXPECT_EQ(gbk.status, 4);
    EXPECT_EQ(gbk.out,
              "-:1: line: not UTF-8 text: the byte \\xB0 at byte 5 (text in GBK wants "
              "--charset GBK)\n");
}
#endif

const Scenario kBadArgumentScenarios[] = {
    {"NoCommand", {}, "", 2, Exact(""), Contains("a command is needed")},
    {"UnknownCommand", {"frobnicate"}, "", 2, Exact(""), Contains("unknown command 'frobnicate'")},
    {"UnknownOption",
     {"encode", "--type", "1", "--bogus"},
     "",
     2,
     Exact(""),
     Contains("unknown option '--bogus'")},
    {"MissingValue", {"encode", "--type"}, "", 2, Exact(""), Contains("needs a value")},
    {"TypeNotANumber",
     {"encode", "--type", "x1"},
     "",
     2,
     Exact(""),
     Contains("--type wants a number")},
    {"TypeTooLarge",
     {"encode", "--type", "4294967296"},
     "",
     2,
     Exact(""),
     Contains("--type wants a number")},
    {"TypeTwice",
     {"encode", "--type", "1", "--type=2"},
     "",
     2,
     Exact(""),
     Contains("more than once")},
    {"FlagWithValue",
     {"encode", "--type", "1", "--en=yes"},
     "",
     2,
     Exact(""),
     Contains("takes no value")},
    {"SendWithoutType",
     {"send", "--target", "127.0.0.1"},
     "",
     2,
     Exact(""),
     Contains("--type is required")},
    {"SendWithoutScale",
     {"send", "--type", "1"},
     "",
     2,
     Exact(""),
     Contains("say where the scale is")},
    {"SendTargetAndSerial",
     {"send", "--type", "1", "--target", "a", "--serial", "/dev/null"},
     "",
     2,
     Exact(""),
     Contains("not both")},
    {"BaudWithoutSerial",
     {"send", "--type", "1", "--target", "a", "--baud", "9600"},
     "",
     2,
     Exact(""),
     Contains("--baud belongs to --serial")},
    {"UnknownBaud",
     {"send", "--type", "1", "--serial", "/dev/null", "--baud", "1234"},
     "",
     2,
     Exact(""),
     Contains("unsupported --baud")},
    {"TimeoutOnSerial",
     {"send", "--type", "1", "--serial", "/dev/null", "--timeout", "100"},
     "",
     2,
     Exact(""),
     Contains("belong to --target")},
    {"ZeroTimeout",
     {"send", "--type", "1", "--target", "a", "--timeout", "0"},
     "",
     2,
     Exact(""),
     Contains("--timeout wants a number from 1 to 600000")},
    {"VerifyOfReadRequest",
     {"send", "--type", "2", "--target", "a", "--verify"},
     "",
     2,
     Exact(""),
     Contains("--verify works for")},
    {"UnknownCharset",
     {"encode", "--type", "1", "--charset", "NO-SUCH-SET"},
     "",
     2,
     Exact(""),
     Contains("unknown character set")},
    {"InputNotUtf8",
     {"encode", "--type", "1", "--charset", "UTF-8"},
     "5A\n5A##\xff\xfe\n",
     2,
     Exact(""),
     Contains("-:2: not UTF-8 text")},
    {"BadAddress",
     {"send", "--type", "2", "--target", "127.0.0.1:4001", "--target", "127.0.0.1:99999"},
     "1\n",
     2,
     Exact(""),
     Contains("bad address '127.0.0.1:99999'")},
    {"BadAddressInTargetsFile",
     {"send", "--type", "2", "--target", "127.0.0.1", "--targets-file", "scales.txt"},
     "1\n",
     2,
     Exact(""),
     Contains("vudaduv send: scales.txt:3: bad address '127.0.0.1:0'"),
     {{"scales.txt", "# the shop\n\n 127.0.0.1:0 # gone\n127.0.0.1:4001\n"}}},
    {"TargetsFileHostWithColonsIsNoIpv6Address",
     {"send", "--type", "2", "--targets-file", "scales.txt"},
     "1\n",
     2,
     Exact(""),
     Contains("vudaduv send: scales.txt:2: bad address 'bad:addr:x'"),
     {{"scales.txt", "127.0.0.1:4001\nbad:addr:x\n"}}},
    {"TargetsFileWithoutAddresses",
     {"send", "--type", "2", "--targets-file", "scales.txt"},
     "1\n",
     2,
     Exact(""),
     Contains("scales.txt: no scale address in it"),
     {{"scales.txt", "# none yet\n\n"}}},
    {"ReportWithoutFormat",
     {"send", "--type", "2", "--target", "a", "--report", "report.json"},
     "1\n",
     2,
     Exact(""),
     Contains("--report wants json:FILE")},
    {"EncodeStrayArgument",
     {"encode", "--type", "1", "extra"},
     "",
     2,
     Exact(""),
     Contains("unexpected argument 'extra'")},
    {"DecodeWithoutFile", {"decode"}, "", 2, Exact(""), Contains("a reply file is needed")},
    {"DecodeTwoFiles", {"decode", "a", "b"}, "", 2, Exact(""), Contains("only one reply file")},
    {"ScalePortOutOfRange",
     {"scale", "--listen", "127.0.0.1:65536"},
     "",
     2,
     Exact(""),
     Contains("bad --listen address")},
    {"ScaleEmptyPort",
     {"scale", "--listen", "127.0.0.1:"},
     "",
     2,
     Exact(""),
     Contains("bad --listen address")},
    {"ScaleUnclosedBracket",
     {"scale", "--listen", "[::1:4001"},
     "",
     2,
     Exact(""),
     Contains("bad --listen address")},
    {"ScaleListenAndPort",
     {"scale", "--listen", "127.0.0.1", "--port", "4001"},
     "",
     2,
     Exact(""),
     Contains("not both")},
    {"ScaleNoScales",
     {"scale", "--count", "0"},
     "",
     2,
     Exact(""),
     Contains("--count wants a number from 1 to 65535")},
    // A fleet on pseudo-terminals listens nowhere.
    {"ScaleFleetWithPtyAndPort",
     {"scale", "--count", "2", "--pty", "--port", "4001"},
     "",
     2,
     Exact(""),
     Contains("--pty --count serves pseudo-terminals alone: no --listen or --port")},
    {"ScaleBaudWithoutPty",
     {"scale", "--baud", "9600"},
     "",
     2,
     Exact(""),
     Contains("--baud paces a pseudo-terminal: give --pty")},
    {"ScaleBaudZero",
     {"scale", "--pty", "--baud", "0"},
     "",
     2,
     Exact(""),
     Contains("--baud wants a number from 1 to 10000000")},
    {"ScaleDelayTooLong",
     {"scale", "--reply-delay", "60001"},
     "",
     2,
     Exact(""),
     Contains("--reply-delay")},
    {"ScaleFleetPastTheLastPort",
     {"scale", "--count", "3", "--port", "65534"},
     "",
     1,
     Exact(""),
     Contains("3 consecutive ports from 65534 go past 65535")},
};
INSTANTIATE_TEST_SUITE_P(BadArguments, ToolScenario, ::testing::ValuesIn(kBadArgumentScenarios),
                         ScenarioName);

const Scenario kUnreadableScenarios[] = {
    {"EncodeMissingFile",
     {"encode", "--type", "1", "--file", "missing.txt"},
     "",
     3,
     Exact(""),
     Contains("vudaduv encode: missing.txt: ")},
    {"SendMissingFile",
     {"send", "--type", "1", "--target", "127.0.0.1", "--file", "missing.txt"},
     "",
     3,
     Exact(""),
     Contains("vudaduv send: missing.txt: ")},
    {"SendMissingTargetsFile",
     {"send", "--type", "1", "--targets-file", "missing.txt"},
     "",
     3,
     Exact(""),
     Contains("vudaduv send: missing.txt: ")},
    {"DecodeMissingFile",
     {"decode", "missing.txt"},
     "",
     3,
     Exact(""),
     Contains("vudaduv decode: missing.txt: ")},
    {"DecodeDirectory", {"decode", "."}, "", 3, Exact(""), Contains("vudaduv decode: .: ")},
};
INSTANTIATE_TEST_SUITE_P(Unreadable, ToolScenario, ::testing::ValuesIn(kUnreadableScenarios),
                         ScenarioName);

const Scenario kEncodeScenarios[] = {
    {"ItemRecords",
     {"encode", "--type", "1"},
     "5A\r\n5Ax##ab\nxyz\n1##2A9\n",
     0,
     Exact("!0V0005ABCDE\n!0V0005AxB03650366CDE\n!0V0001A9BCDE\n")},
    {"ItemRecordCodePage",
     {"encode", "--type", "1", "--en"},
     "5Ax##ab",
     0,
     Exact("!0V0005AxB097098CDE\n")},
    {"ItemRecordFromFile",
     {"encode", "--type", "1", "--file", "data.txt"},
     "",
     0,
     Exact("!0V4000ABCDE\n"),
     kAnything,
     {{"data.txt", "4001A\n"}}},
    {"ReadItems",
     {"encode", "--type", "2"},
     "12\n99999\n-3\n  7kg\n",
     0,
     Exact("!0U0012A\n!0U4000A\n!0U00-3A\n!0U0007A\n")},
    {"MessagesType3",
     {"encode", "--type", "3"},
     "5Ahi\n12Ahi\n5A\n",
     0,
     Exact("!0X05A037203730000B\n!0X12A104105000B\n!0X05A0000B\n")},
    {"MessagesType3CodePage",
     {"encode", "--type", "3", "--en"},
     "5Ahi\n",
     0,
     Exact("!0X05A104105000B\n")},
    {"MessagesType5", {"encode", "--type", "5"}, "99A\n", 0, Exact("!0Z32A000B\n")},
    {"ReadMessages", {"encode", "--type", "4"}, "23\n5\n", 0, Exact("!0W22A\n!0W05A\n")},
    {"FreeData",
     {"encode", "--type", "7"},
     "hello world\n\n",
     0,
     Exact("!0Ohello world\n"),
     Exact("vudaduv encode: -:2: blank line skipped\n")},
    {"ByteOrderMarkAndCrLf",
     {"encode", "--type", "2"},
     "\xef\xbb\xbf"
     "12\r\n \r\n13\r\n",
     0,
     Exact("!0U0012A\n!0U0013A\n"),
     Contains("-:1: UTF-8 byte-order mark skipped")},
    {"EncodeEmptyInput",
     {"encode", "--type", "1"},
     "",
     0,
     Exact(""),
     Exact("vudaduv encode: -: no data lines: nothing to send\n")},
    {"ReadFreeDataReadsNoInput", {"encode", "--type", "8"}, "ignored\n", 0, Exact("!0N\n")},
    {"Clock", {"encode", "--type", "9"}, "", 0, Contains("!0P")},
    {"LabelTexts",
     {"encode", "--type", "10"},
     "3AxByz\n20AxBy\nnoseparator\n",
     0,
     Exact("!0T03Ax\n!0R03Ayz\n!0T15Ax\n!0R15Ay\n")},
    {"ReadLabels",
     {"encode", "--type", "11"},
     "3\n20\n",
     0,
     Exact("!0S03A\n!0Q03A\n!0S15A\n!0Q15A\n")},
    {"KeyTable",
     {"encode", "--type", "12"},
     KeyTable() + "\n" + KeyTable() + "9\n",
     0,
     Exact("!0L00A" + KeyTable().substr(0, 144) + "B\n!0L01A" + KeyTable().substr(144, 144) +
           "B\n!0L02A" + KeyTable().substr(288, 144) + "B\n!0L03A" + KeyTable().substr(432) +
           "00000000B\n")},
    {"ReadKeyTable", {"encode", "--type", "13"}, "", 0, Exact("!0K00A\n!0K01A\n!0K02A\n!0K03A\n")},
    {"TypeWithoutBuilder", {"encode", "--type", "0"}, "as it is\n", 0, Exact("as it is\n")},
    {"Utf8Input",
     {"encode", "--type", "1", "--charset", "UTF-8"},
     "5A##\xe5\x95\x8a\n",
     0,
     Exact("!0V0005AB1601CDE\n")},
    {"Utf8LabelShownInUtf8",
     {"encode", "--type", "10", "--charset", "UTF-8"},
     "1A\xe5\x95\x8a"
     "Bx\n",
     0,
     Exact("!0T01A\xe5\x95\x8a\n!0R01Ax\n")},
};
INSTANTIATE_TEST_SUITE_P(Encode, ToolScenario, ::testing::ValuesIn(kEncodeScenarios), ScenarioName);

const Scenario kDecodeScenarios[] = {
    {"ReplyFile",
     {"decode", "reply.txt"},
     "",
     0,
     Exact("1P0012A1##AB\n10P03AhelloBworld\n3P05Ahi\n0eUNKNOWN\n7PPL\n7E\n"),
     kAnything,
     {{"reply.txt", kReplyFile}}},
    {"ReplyFromStandardInput", {"decode", "-"}, "0w05A03720373B\n", 0, Exact("3P05Ahi\n")},
    {"CodePageReplies",
     {"decode", "--en", "reply.txt"},
     "",
     0,
     Exact("3P05Ahi\n1P0001A####A\n"),
     kAnything,
     {{"reply.txt", "0w05A104105B\n0u0001ABC065DE"}}},
    {"ChineseShownInUtf8",
     {"decode", "--charset", "UTF-8", "reply.txt"},
     "",
     0,
     Exact("1P0001A1##\xe5\x95\x8a\n"),
     kAnything,
     {{"reply.txt", "0u0001A1B1601CDE\n"}}},
    {"EmptyReplyFile", {"decode", "reply.txt"}, "", 0, Exact(""), kAnything, {{"reply.txt", ""}}},
};
INSTANTIATE_TEST_SUITE_P(Decode, ToolScenario, ::testing::ValuesIn(kDecodeScenarios), ScenarioName);

TEST(Decode, LeavesTheFileAsItWas) {
    TempDirectory directory;
    WriteWholeFile("Rec.txt", kReplyFile);
    ToolRun run = RunTool({"decode", "Rec.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), kReplyFile);
}

// ---------------------------------------------------------------------------------------------
// With a virtual scale process: sends, read-backs and verification over TCP and serial.

class ScaleScenario : public ::testing::TestWithParam<Scenario> {};

// A scale set up for the text that the scenario sends: code-page text with --en.
bool SendsCodePageText(const Scenario& scenario) {
    return std::find(scenario.args.begin(), scenario.args.end(), "--en") != scenario.args.end();
}

// A scenario that names the scale "localhost" (in any case), in an argument or a file.
bool NamesLocalhost(const Scenario& scenario) {
    auto names = [](std::string text) {
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return text.find("localhost") != std::string::npos;
    };
    return std::any_of(scenario.args.begin(), scenario.args.end(), names) ||
           std::any_of(scenario.files.begin(), scenario.files.end(),
                       [&names](const auto& file) { return names(file.second); });
}

TEST_P(ScaleScenario, Runs) {
    if (NamesLocalhost(GetParam()) && !vudaduv::testing::LocalhostIsLoopback()) {
        GTEST_SKIP() << "localhost does not resolve to 127.0.0.1 here (no /etc/hosts?)";
    }
    TempDirectory directory;
    ScaleProcess scale(SendsCodePageText(GetParam()));
    ASSERT_TRUE(scale.Started()) << scale.Output();
    RunScenario(GetParam(), Places{scale.Port(), scale.PtyPath(), ClosedPort()});
}

const std::vector<std::string> kTarget = {"--target", "127.0.0.1:{port}"};

std::vector<std::string> Send(std::vector<std::string> args, bool serial = false) {
    std::vector<std::string> all{"send"};
    std::vector<std::string> where =
        serial ? std::vector<std::string>{"--serial", "{pty}"} : kTarget;
    all.insert(all.end(), where.begin(), where.end());
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

const Scenario kSendScenarios[] = {
    {"ClosedPort",
     {"send", "--type", "2", "--target", "127.0.0.1:{closed}", "--timeout", "300", "--retries",
      "0"},
     "1\n",
     1,
     Exact(""),
     Contains(": refused or unreachable (0 of 1 command line(s) answered, 1 try)\n")},
    {"EmptyInputSendsNothing", Send({"--type", "1"}), "\n", 0, Exact(""),
     Contains("vudaduv send: -: no data lines: nothing to send\n")},
    {"CheckStopsTheSend", Send({"--type", "1"}), "12A1##x\n5000A1\nno separator\n", 4, Exact(""),
     Contains("-:2: item number: 5000 becomes 4000\n-:3: line: no \"A\": the line is left "
              "out\nvudaduv send: 2 of 3 data line(s) would not arrive as written: nothing "
              "sent")},
    {"EmptySlotGivesNoLine", Send({"--type", "2"}), "12\n", 0, Exact(""),
     Exact("vudaduv send: item 0012: the scale holds none\n")},
    {"ItemsVerified", Send({"--type", "1", "--verify", "--charset", "GBK"}),
     "12A0100##\xc6\xbb\xb9\xfb##Apple\n13A02##x##y##z\n", 0, Exact(""),
     Contains("all 2 record(s) came back as written")},
    {"ItemsVerifiedWithSettings",
     Send({"--type", "1", "--verify", "--timeout", "2000", "--retries", "1", "--en", "--charset",
           "CP936"}),
     "14A1##Apple pie##4\xa1\xe3"
     "C\n",
     0, Exact(""), Contains("all 1 record(s)")},
    {"AcceptedChangesAreForeseen", Send({"--type", "1", "--verify", "--accept-changes"}),
     "5A##tab\there##a very long text that is cut\n", 0, Exact(""),
     Contains("verify: item 0005: text 2 came back different (foreseen by the check)")},
    {"FieldThatDoesNotComeBack", Send({"--type", "1", "--verify"}), "5A1B2##x\n6A##y\n", 4,
     Exact(""), Contains("-:1: fields: the letter B ends the fields")},
    {"LabelTextWithBlank", Send({"--type", "10", "--verify"}), "3Aone twoBx\n", 4, Exact(""),
     Contains("-:1: label text 1: a blank in it: comes back split")},
    {"MessagesVerified", Send({"--type", "3", "--verify", "--charset", "GBK"}),
     "1A\xbb\xb6\xd3\xad\n12AThanks\n", 0, Exact(""), Contains("all 2 record(s)")},
    {"ErrorReplyFails", Send({"--type", "14"}), "!0Zfoo\n!0N\n", 1, Exact("0eMALFORMED\n"),
     Contains("-:1 (\"!0Zfoo\"): the scale answered with an error: \"0eMALFORMED\"")},
    {"MessagesType5CodePageVerified", Send({"--type", "5", "--verify", "--en"}),
     "4ABest before\n20AHi\n", 0, Exact(""), Contains("all 2 record(s)")},
    {"RejectedLineIsNamed", Send({"--type", "10", "--verify", "--accept-changes"}),
     "1AxBy\nno label\n", 0, Exact(""),
     Contains("not sent (the library leaves this data line out): \"no label\"")},
    {"KeyTableVerified", Send({"--type", "12", "--verify"}), KeyTable() + "\n", 0, Exact(""),
     Contains("all 1 record(s)")},
    {"FreeDataVerified", Send({"--type", "7", "--verify"}), "PLU-7\n", 0, Exact(""),
     Contains("all 1 record(s)")},
    {"Utf8SendAndVerify", Send({"--type", "1", "--verify", "--charset", "UTF-8"}),
     "7A##\xe5\x95\x8a\n", 0, Exact(""), Contains("all 1 record(s)")},
    {"TheSameTargetTwiceIsServedAndVerifiedOnce",
     {"send", "--type", "3", "--verify", "--target", "127.0.0.1:{port}", "--target",
      "127.0.0.1:{port}"},
     "2Ahi\n",
     0,
     Exact(""),
     Contains("again: sent to once\nverify: all 1 record(s) came back as written")},
    {"DeadScaleLeavesTheOthersVerified",
     {"send", "--type", "3", "--verify", "--target", "127.0.0.1:{port}", "--target",
      "127.0.0.1:{closed}", "--timeout", "300", "--retries", "0"},
     "2Ahi\n",
     1,
     Exact(""),
     Contains(": not verified: it was not served\nverify 127.0.0.1:")},
    {"OldUploadLinesAreNotRepeated",
     Send({"--type", "11"}),
     "3\n",
     0,
     Exact(""),
     Exact("vudaduv send: label 03: the scale holds none\n"),
     {{"Rec.txt", "1P0001Aold\r\n"}}},
    // The check and the read-back split lines alike: what the check foresaw is not the scale's.
    {"DataLineEndingInACrOfItsOwn", Send({"--type", "7", "--verify", "--accept-changes"}),
     "ab\r\r\n", 0, Exact(""), Contains("0 not foreseen by the check")},
    {"DecodedTextHoldingAnLf", Send({"--type", "1", "--en", "--verify", "--accept-changes"}),
     "12AD120010121\n", 0, Exact(""), Contains("0 not foreseen by the check")},
    {"NameOfAScaleAlreadyListedIsServedOnce",
     Send({"--type", "2", "--targets-file", "scales.txt"}),
     "12\n",
     0,
     Exact(""),
     Contains("scales.txt:1: 'LOCALHOST:"),
     {{"scales.txt", "LOCALHOST:{port}\n"}}},
    {"AcceptedButEveryLineLeftOut", Send({"--type", "1", "--accept-changes"}), "no separator\n", 4,
     Exact(""), Contains("nothing to send")},
    {"UnwritableReportStopsBeforeTheSend",
     Send({"--type", "1", "--report", "json:no/such/folder/r.json"}), "12A1\n", 2, Exact(""),
     Contains("--report: no/such/folder/r.json cannot be written")},
    {"UnconvertibleLineIsNeverSent",
     Send({"--type", "1", "--charset", "UTF-8", "--accept-changes"}), "5A##\xff\n6A##x\n", 0,
     Exact(""), Contains("-:1: line: not UTF-8 text: the byte \\xFF")},
    {"RepliesShownInTheUsersCharset", Send({"--type", "14", "--charset", "UTF-8"}),
     "!0Z\xe5\x95\x8a\n", 1, Exact("0eMALFORMED\n"), Contains("(\"!0Z\xe5\x95\x8a\")")},
    {"SerialDeviceMissing",
     {"send", "--type", "1", "--serial", "/nonexistent/tty"},
     "1A\n",
     1,
     Exact(""),
     Contains("cannot open /nonexistent/tty")},
};
INSTANTIATE_TEST_SUITE_P(Send, ScaleScenario, ::testing::ValuesIn(kSendScenarios), ScenarioName);

// The scale's serial line is a pseudo-terminal, which Windows lacks.
#ifndef _WIN32
const Scenario kSerialScenarios[] = {
    {"SerialSendVerified", Send({"--type", "1", "--verify"}, true), "21A01##Pear\n", 0, Exact(""),
     Contains("all 1 record(s)")},
    {"SerialClockSet", Send({"--type", "9"}, true), "", 0, Exact(""), Exact("")},
    {"SerialErrorReplyFails", Send({"--type", "20"}, true), "!0Zfoo\n", 1, Exact("0eMALFORMED\n"),
     Exact("vudaduv send: serial line: -:1 (\"!0Zfoo\"): the scale answered with an error: "
           "\"0eMALFORMED\"\n")},
};
INSTANTIATE_TEST_SUITE_P(Serial, ScaleScenario, ::testing::ValuesIn(kSerialScenarios),
                         ScenarioName);
#endif

// A download read back as a separate send prints the upload lines, in the user's charset.
TEST(SendAndRead, ReadPrintsTheUploadLines) {
    TempDirectory directory;
    ScaleProcess scale;
    ASSERT_TRUE(scale.Started()) << scale.Output();
    std::string target = "127.0.0.1:" + std::to_string(scale.Port());
    ToolRun download = RunTool({"send", "--type", "1", "--target", target, "--charset", "UTF-8"},
                               "12A01##\xe8\x8b\xb9\xe6\x9e\x9c##Apple\n3A##x\n");
    ASSERT_EQ(download.status, 0) << download.err;
    EXPECT_FALSE(std::filesystem::exists("Rec.txt")) << "the tool writes no upload file";
    // The application left the last line of its upload file open.
    WriteWholeFile("mine.txt", "1P0099Aearlier");
    ToolRun read = RunTool({"send", "--type", "2", "--target", target, "--charset", "UTF-8",
                            "--upload-file", "mine.txt"},
                           "12\n3\n");
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, "1P0012A01##\xe8\x8b\xb9\xe6\x9e\x9c##Apple\n1P0003A##x\n");
    EXPECT_EQ(ReadWholeFile("mine.txt"),
              "1P0099Aearlier\r\n1P0012A01##\xe8\x8b\xb9\xe6\x9e\x9c"
              "##Apple\r\n1P0003A##x\r\n");
    EXPECT_FALSE(std::filesystem::exists("Rec.txt"));
    // With two scales each block of upload lines names its scale.
    ScaleProcess second;
    ASSERT_TRUE(second.Started()) << second.Output();
    std::string other = "127.0.0.1:" + std::to_string(second.Port());
    ASSERT_EQ(RunTool({"send", "--type", "1", "--target", other}, "3A##x\n").status, 0);
    ToolRun both = RunTool({"send", "--type", "2", "--target", target, "--target", other}, "3\n");
    EXPECT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out, "# scale " + target + "\n1P0003A##x\n# scale " + other + "\n1P0003A##x\n");
    // The same scale named twice is one scale: read once, with a note.
    ToolRun twice = RunTool({"send", "--type", "2", "--target", target, "--target", target}, "3\n");
    EXPECT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(twice.out, "1P0003A##x\n");
    EXPECT_NE(twice.err.find("--target '" + target + "' is the scale of '" + target +
                             "' again: sent to once"),
              std::string::npos)
        << twice.err;
}

// Replies that are no success: each is named with its scale and data line, and fails the send.
TEST(SendFailures, AreNamedWithTheirCause) {
    TempDirectory directory;
    ScriptedScale http(
        false, [](const PeerEvent&) { return PeerAnswer::Reply("HTTP/1.1 400 Bad Request\r\n"); });
    ScriptedScale silent(false, [](const PeerEvent&) { return PeerAnswer::Silence(); });
    std::string httpTarget = "127.0.0.1:" + std::to_string(http.Port());
    std::string silentTarget = "127.0.0.1:" + std::to_string(silent.Port());
    ToolRun run = RunTool({"send", "--type", "2", "--target", httpTarget, "--target", silentTarget,
                           "--timeout", "200", "--retries", "1"},
                          "12\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "# scale " + httpTarget + "\nHTTP/1.1\n400\nBad\nRequest\n");
    // The replies first, then each failing scale with its cause, then the summary.
    std::string named =
        "vudaduv send: " + httpTarget +
        ": -:1 (\"!0U0012A\"): not a scale's reply: \"HTTP/1.1 400 Bad Request\"\nvudaduv send: " +
        httpTarget +
        ": 1 of 1 command line(s) answered with an error or with no scale's reply\nvudaduv send: " +
        silentTarget +
        ": timed out (0 of 1 command line(s) answered, 2 tries)\nvudaduv send: served 0, "
        "failed 2, in ";
    EXPECT_EQ(run.err.substr(0, named.size()), named);
    EXPECT_EQ(run.err.substr(run.err.size() - 3), " s\n") << run.err;
}

// A fleet listed in a file with a comment, blanks and a repeat, beside --target, and one dead
// port: the dead scale is named with its cause, the summary counts every scale, and the report
// holds each scale's outcome in target order.
TEST(SendFleet, TargetsFileSummaryAndReport) {
    TempDirectory directory;
    ScaleProcess fleet(3, 0);
    ASSERT_TRUE(fleet.Started()) << fleet.Output();
    std::vector<std::string> scales = fleet.OutputLines();
    ASSERT_EQ(scales.size(), 3u);
    std::string dead = "127.0.0.1:" + std::to_string(ClosedPort());
    WriteWholeFile("scales.txt", "# the shop floor\n\n" + scales[0] + "\n\t" + scales[1] +
                                     "  # counter\r\n" + dead + "\n \n" + scales[0] + "\n");
    ToolRun run = RunTool({"send", "--type", "1", "--target", scales[2], "--targets-file",
                           "scales.txt", "--retries", "0", "--report", "json:report.json"},
                          "12A01##Pear\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    for (const std::string& line :
         {"scales.txt:7: '" + scales[0] + "' is the scale of '" + scales[0] + "' again",
          dead + ": refused or unreachable (0 of 1 command line(s) answered, 1 try)\n",
          std::string("served 3, failed 1, in ")}) {
        EXPECT_NE(run.err.find("vudaduv send: " + line), std::string::npos) << run.err;
    }
    std::string text = ReadWholeFile("report.json");
    nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
    ASSERT_FALSE(report.is_discarded()) << text;
    EXPECT_EQ(report["failed"], 1);
    const std::vector<std::pair<std::string, int>> expected = {
        {scales[2], 0}, {scales[0], 0}, {scales[1], 0}, {dead, 3}};
    ASSERT_EQ(report["scales"].size(), expected.size()) << text;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const nlohmann::json& scale = report["scales"][i];
        EXPECT_EQ(scale["address"], expected[i].first) << text;
        EXPECT_EQ(scale["code"], expected[i].second) << text;
        EXPECT_EQ(scale["cause"].get<std::string>().empty(), expected[i].second == 0) << text;
        EXPECT_EQ(scale["answered"], expected[i].second == 0 ? 1 : 0) << text;
    }
}

// A scale that refuses is tried as often as --retries asks, two retries when it is not given,
// for data lines and for an image alike.
TEST(SendFailures, RefusingScaleIsTriedAsAsked) {
    TempDirectory directory;
    WriteWholeFile("image.txt", "1P0001A1##Tea\n");
    std::string dead = "127.0.0.1:" + std::to_string(ClosedPort());
    const std::vector<std::string> data = {"--type", "2"};
    const std::vector<std::string> image = {"--file", "image.txt"};
    const struct {
        std::vector<std::string> form;
        std::vector<std::string> retries;
        std::string tries;
    } cases[] = {
        {data, {}, "3 tries"},
        {data, {"--retries", "1"}, "2 tries"},
        {image, {}, "3 tries"},
        {image, {"--retries", "0"}, "1 try"},
        {image, {"--retries", "1", "--timeout", "300"}, "2 tries"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"send", "--target", dead};
        args.insert(args.end(), c.form.begin(), c.form.end());
        args.insert(args.end(), c.retries.begin(), c.retries.end());
        ToolRun run = RunTool(args, "12\n");
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(
            run.err.find(dead + ": refused or unreachable (0 of 1 command line(s) answered, " +
                         c.tries + ")"),
            std::string::npos)
            << run.err;
    }
}

// A directory in the place of the upload file: the lines cannot be kept, and the send says so.
TEST(SendFailures, UnwritableUploadFileIsNamed) {
    TempDirectory directory;
    ScaleProcess scale;
    ASSERT_TRUE(scale.Started()) << scale.Output();
    ASSERT_TRUE(std::filesystem::create_directory("up.txt"));
    ToolRun run = RunTool({"send", "--type", "1", "--target",
                           "127.0.0.1:" + std::to_string(scale.Port()), "--upload-file", "up.txt"},
                          "12A##x\n");
    ToolRun read = RunTool({"send", "--type", "2", "--target",
                            "127.0.0.1:" + std::to_string(scale.Port()), "--upload-file", "up.txt"},
                           "12\n");
    EXPECT_EQ(run.status, 0) << "acknowledgements give no upload line to keep";
    EXPECT_EQ(read.status, 1);
    EXPECT_EQ(read.out, "1P0012A##x\n");
    EXPECT_NE(read.err.find("the upload lines could not be appended to up.txt: "),
              std::string::npos)
        << read.err;
}

// Two sends at once in one folder, each appending to the same upload file: every line of both
// arrives whole, once, and the tool writes no "Rec.txt".
TEST(SendAndRead, TwoSendsAtOnceInOneFolderLoseNoLine) {
    TempDirectory directory;
    ScaleProcess scale;
    ASSERT_TRUE(scale.Started()) << scale.Output();
    std::string target = "127.0.0.1:" + std::to_string(scale.Port());
    std::string items;
    std::string reads;
    for (int i = 1; i <= 200; ++i) {
        items += std::to_string(i) + "A01##item" + std::to_string(i) + "\n";
        reads += std::to_string(i) + "\n";
    }
    ASSERT_EQ(RunTool({"send", "--type", "1", "--target", target}, items).status, 0);
    WriteWholeFile("reads.txt", reads);
    std::vector<std::string> args = {"send",      "--type",        "2",
                                     "--target",  target,          "--file",
                                     "reads.txt", "--upload-file", "up.txt"};
    WriteWholeFile("nothing.in", "");
    ProcessId first = StartProcess(ToolPath(), args, "nothing.in", "first.out", "first.err");
    ProcessId second = StartProcess(ToolPath(), args, "nothing.in", "second.out", "second.err");
    ASSERT_EQ(WaitForProcess(first, 30000), 0) << ReadWholeFile("first.err");
    ASSERT_EQ(WaitForProcess(second, 30000), 0) << ReadWholeFile("second.err");
    std::string upload = ReadWholeFile("up.txt");
    for (int i = 1; i <= 200; ++i) {
        std::string number = std::to_string(i);
        std::string line =
            "1P" + std::string(4 - number.size(), '0') + number + "A01##item" + number + "\r\n";
        std::size_t at = upload.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        EXPECT_NE(upload.find(line, at + 1), std::string::npos) << "both sends keep " << line;
    }
    // Each printed line ends in LF, each appended one in CR LF.
    EXPECT_EQ(upload.size(), 2 * (ReadWholeFile("first.out").size() + 200));
    EXPECT_FALSE(std::filesystem::exists("Rec.txt"));
}

// A message sent empty that the scale reads back with a text: the difference is named.
TEST(SendVerify, NamesATextTheScaleMadeUp) {
    TempDirectory directory;
    ScriptedScale scale(false, [](const PeerEvent& event) {
        return PeerAnswer::Reply(event.command.compare(0, 3, "!0W") == 0 ? "0w05A03720373B\r\n"
                                                                         : "0x\r\n");
    });
    ToolRun run = RunTool({"send", "--type", "3", "--verify", "--target",
                           "127.0.0.1:" + std::to_string(scale.Port())},
                          "5A\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("verify: message 05: message text came back different (made by the "
                           "scale)\n  sent:      \"\"\n  came back: \"hi\""),
              std::string::npos)
        << run.err;
}

// Only POSIX systems have a stop request to send to a program without a console.
#ifndef _WIN32
// Ctrl-C during a long read: the replies that had arrived are printed, then exit 130.
TEST(SendInterrupted, PrintsWhatArrived) {
    TempDirectory directory;
    std::atomic<int> received{0};
    ScriptedScale scale(false, [&received](const PeerEvent&) {
        int n = ++received;
        return n <= 2 ? PeerAnswer::Reply("0u000" + std::to_string(n) + "A1BCDE\r\n")
                      : PeerAnswer::Silence();
    });
    WriteWholeFile("reads.txt", "1\n2\n3\n4\n");
    WriteWholeFile("nothing.in", "");
    ProcessId tool =
        StartProcess(ToolPath(),
                     {"send", "--type", "2", "--file", "reads.txt", "--timeout", "60000",
                      "--target", "127.0.0.1:" + std::to_string(scale.Port())},
                     "nothing.in", "send.out", "send.err");
    for (int wait = 0; wait < 500 && received < 3; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(received, 3);
    kill(static_cast<pid_t>(tool), SIGINT);
    EXPECT_EQ(WaitForProcess(tool, 10000), 130) << ReadWholeFile("send.err");
    EXPECT_EQ(ReadWholeFile("send.out"), "1P0001A1\n1P0002A1\n");
    EXPECT_NE(ReadWholeFile("send.err").find("interrupted"), std::string::npos);
}

TEST(ScaleCommand, StopsOnTerminate) {
    TempDirectory directory;
    ScaleProcess scale;
    ASSERT_TRUE(scale.Started()) << scale.Output();
    EXPECT_FALSE(scale.PtyPath().empty());
    EXPECT_EQ(scale.Stop(), 0);
    EXPECT_NE(scale.Output().find("stopped"), std::string::npos) << scale.Output();
}
#else
TEST(ScaleCommand, SaysThatWindowsHasNoPseudoTerminal) {
    TempDirectory directory;
    ToolRun run = RunTool({"scale", "--listen", "127.0.0.1:0", "--pty"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("pseudo-terminals are not available on Windows"), std::string::npos)
        << run.err;
}
#endif

TEST(ScaleCommand, BusyPortIsAFailure) {
    TempDirectory directory;
    ScaleProcess scale;
    ASSERT_TRUE(scale.Started()) << scale.Output();
    ToolRun second = RunTool({"scale", "--listen", "127.0.0.1:" + std::to_string(scale.Port())});
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("cannot listen"), std::string::npos) << second.err;
}

// A loopback port whose next count - 1 ports are free as well, or 0.
unsigned FreePortRun(unsigned count) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        unsigned first = ClosedPort();
        std::vector<std::unique_ptr<vudaduv::testing::HeldPort>> held;
        std::string error;
        for (unsigned port = first; port != 0 && port < first + count && port <= 65535; ++port) {
            held.push_back(
                vudaduv::testing::ListenTcp("127.0.0.1", static_cast<uint16_t>(port), error));
            if (!held.back()) break;
        }
        if (held.size() == count && held.back()) return first;
    }
    return 0;
}

// A fleet on consecutive ports and one on free ports print their addresses one a line, and
// each scale keeps its own memory.
TEST(ScaleCommand, FleetServesScalesOfTheirOwn) {
    TempDirectory directory;
    unsigned first = FreePortRun(3);
    ASSERT_NE(first, 0u);
    ScaleProcess consecutive(3, first);
    ASSERT_TRUE(consecutive.Started()) << consecutive.Output();
    std::vector<std::string> addresses;
    for (unsigned port = first; port < first + 3; ++port) {
        addresses.push_back("127.0.0.1:" + std::to_string(port));
    }
    EXPECT_EQ(consecutive.OutputLines(), addresses);

    ScaleProcess free(2, 0);
    ASSERT_TRUE(free.Started()) << free.Output();
    std::vector<std::string> freeAddresses = free.OutputLines();
    ASSERT_EQ(freeAddresses.size(), 2u);
    EXPECT_NE(freeAddresses[0], freeAddresses[1]);
    EXPECT_EQ(freeAddresses[1].rfind("127.0.0.1:", 0), 0u) << freeAddresses[1];

    ToolRun download =
        RunTool({"send", "--type", "1", "--target", freeAddresses[1]}, "12A01##Pear\n");
    ASSERT_EQ(download.status, 0) << download.err;
    ToolRun own = RunTool({"send", "--type", "2", "--target", freeAddresses[1]}, "12\n");
    ToolRun other = RunTool({"send", "--type", "2", "--target", freeAddresses[0]}, "12\n");
    EXPECT_EQ(own.out, "1P0012A01##Pear\n") << own.err;
    EXPECT_EQ(other.out, "") << other.err;
}

TEST(Demo, EverythingComesBackAsSent) {
    TempDirectory directory;
    ToolRun run = RunTool({"demo", "--keep"});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("records came back as sent"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("\xE2\x9C\x97"), std::string::npos) << run.out;  // no cross mark
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "");  // the demo works in a directory of its own
    // The kept upload file holds the upload lines the demo showed, the last a key table.
    const std::string kept = "The upload file is kept in ";
    std::size_t at = run.out.find(kept);
    ASSERT_NE(at, std::string::npos) << run.out;
    std::string path = run.out.substr(at + kept.size());
    path = path.substr(0, path.find('\n'));
    std::string upload = ReadWholeFile(path.c_str());
    EXPECT_NE(upload.find("1P0012A0100000599##"), std::string::npos) << upload;
    EXPECT_NE(upload.find("\r\n12P"), std::string::npos) << upload;
    std::remove(path.c_str());
    std::remove(path.substr(0, path.rfind('/')).c_str());
}

}  // namespace
}  // namespace vudaduv::cli::test
