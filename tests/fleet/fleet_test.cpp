// The fleet on a small virtual fleet in this process: named scenarios of a day of syncs, and
// the rows of the diff.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "fleet_internal.h"
#include "scales_fixture.h"
#include "temp_directory.h"
#include "virtual_scale.h"
#include "vudaduv_codec.h"
#include "vudaduv_fleet.h"
#include "vudaduv_model.h"

namespace vudaduv::fleet {
namespace {

using testing::ReadWholeFile;
using testing::WriteWholeFile;

// ---- The diff: one row per differing record, data lines as the scale stores them -----------

struct DiffCase {
    const char* name;
    std::vector<std::string> a;  // image lines
    std::vector<std::string> b;  // data lines of items
    std::vector<std::string> rows;
};

Image ImageOfLines(const std::vector<std::string>& lines) {
    Image image;
    std::string error;
    EXPECT_TRUE(ReadImage("a", lines, {}, image, error)) << error;
    return image;
}

TEST(Diff, RowsAreKeyedByTypeAndNumber) {
    const DiffCase cases[] = {
        {"same", {"1P0001A5##Milk"}, {"1A5##Milk"}, {}},
        {"number padded alike", {"1P0012A5##Milk"}, {"0012A5##Milk"}, {}},
        {"texts missing at the end are empty", {"1P0002A5"}, {"2A5##"}, {}},
        {"a cut text is no difference", {"1P0003A5##ABCDEFGHIJKL"}, {"3A5##ABCDEFGHIJKLMNOP"}, {}},
        {"a clamped number is the last item", {"1P4000A7"}, {"5000A7"}, {}},
        {"added", {}, {"4A1##Tea"}, {"+ 1P0004A1##Tea"}},
        {"removed", {"1P0004A1##Tea"}, {}, {"- 1P0004A1##Tea"}},
        {"the empty item is no item", {"1P0004A"}, {"4A"}, {}},
        {"changed field", {"1P0005A1##Tea"}, {"5A2##Tea"}, {"~ item 0005: fields: \"1\" -> \"2\""}},
        {"text added",
         {"1P0006A1##Tea"},
         {"6A1##Tea##Hot"},
         {"~ item 0006: text 2: \"\" -> \"Hot\""}},
        {"a later line wins", {"1P0007A1"}, {"7A2", "7A1"}, {}},
        {"other types stay apart", {"3P07AHello"}, {}, {"- 3P07AHello"}},
    };
    for (const DiffCase& c : cases) {
        Image b = ImageOf(WantedOfDataLines(1, false, c.b));
        std::vector<std::string> rows;
        for (const DiffRow& row : DiffImages(ImageOfLines(c.a), b)) {
            for (const std::string& line : DiffRowLines(row)) rows.push_back(line);
        }
        EXPECT_EQ(rows, c.rows) << c.name;
    }
}

TEST(Image, WrittenAndReadBackAlikeAndBadLinesNamed) {
    Image image = ImageOfLines({"12P" + std::string(568, '1'), "1P0002A1##x", "7Pfree", "3P01Ay"});
    Image again;
    std::string error;
    ASSERT_TRUE(ReadImageText("s", WriteImage(image), again, error)) << error;
    EXPECT_EQ(again, image);
    EXPECT_EQ(WriteImage(image).substr(0, 12), "1P0002A1##x\n");  // sorted by type
    EXPECT_FALSE(ReadImageText("f.txt", "1P0002A\r\n0003A1\r\n", again, error));
    EXPECT_EQ(error.substr(0, 8), "f.txt:2:");
    EXPECT_FALSE(ReadImageText("f.txt", "1P0002A1\n1P2A3\n", again, error));
    EXPECT_NE(error.find("a second time"), std::string::npos) << error;
}

// ---- Records that no image line can hold, and keys named twice ---------------------------

struct ImageLinesCase {
    const char* name;
    std::vector<std::string> lines;
    std::string error;  // "" when the lines are taken
};

TEST(Image, KeysNamedTwiceAndLinesNoFileKeepsAreRefused) {
    const ImageLinesCase cases[] = {
        {"the empty one last", {"1P0012A0100000599", "1P0012A"}, "a:2: item 0012 a second time"},
        {"the empty one first", {"1P0012A", "1P0012A0100000599"}, "a:2: item 0012 a second time"},
        {"two empty ones", {"3P05A", "3P5A"}, "a:2: message 05 a second time"},
        {"a CR in a text",
         {"3P05Aab\r"},
         "a:1: message 05: holds a CR, which an image line cannot hold"},
        {"an LF in a text",
         {"1P0001A1##T\nea"},
         "a:1: item 0001: holds a line break, which an image line cannot hold"},
        {"a NUL in a text",
         {"1P0001A1", std::string("1P0002A1##T\0ea", 14)},
         "a:2: item 0002: holds a NUL, which an image line cannot hold"},
        {"one of each", {"1P0012A", "1P0013A1", "3P05Aab"}, ""},
    };
    for (const ImageLinesCase& c : cases) {
        Image image;
        std::string error;
        EXPECT_EQ(ReadImage("a", c.lines, {}, image, error), c.error.empty()) << c.name;
        EXPECT_EQ(error, c.error) << c.name;
    }
}

struct WantedCase {
    const char* name;
    uint32_t type;
    bool en;
    std::string line;
    std::string sent;        // the data line the fleet sends
    std::string foreseen;    // the upload line it comes back as
    std::string unkeepable;  // why no image line holds it
};

TEST(Wanted, WhatIsSentIsWhatIsForeseenAndAnUnkeepableRecordIsNamed) {
    const WantedCase cases[] = {
        {"a NUL ends the line", 1, false, std::string("12A5##Tea\0xyz", 13), "12A5##Tea",
         "1P0012A5##Tea", ""},
        {"code-page text ending in a CR", 3, true, "5Aab\r", "5Aab\r", "3P05Aab",
         "holds a CR, which an image line cannot hold"},
        {"a text code decoded to an LF", 1, true, "12AD120010121", "12AD120010121", "1P0012AD12",
         "holds a line break, which an image line cannot hold"},
        {"code-page text", 3, true, "5Aab", "5Aab", "3P05Aab", ""},
    };
    for (const WantedCase& c : cases) {
        WantedList list = WantedOfDataLines(c.type, c.en, {c.line});
        ASSERT_EQ(list.size(), 1u) << c.name;
        const Wanted& wanted = list.begin()->second;
        EXPECT_EQ(wanted.dataLine, c.sent) << c.name;
        EXPECT_EQ(wanted.line.substr(0, c.foreseen.size()), c.foreseen) << c.name;
        EXPECT_EQ(wanted.unkeepable, c.unkeepable) << c.name;
        // An unkeepable record is in no image and is named by the check.
        EXPECT_EQ(ImageOf(list).size(), c.unkeepable.empty() ? 1u : 0u) << c.name;
        if (!c.unkeepable.empty()) {
            EXPECT_FALSE(model::CheckDataLine(c.type, c.en, c.line).empty()) << c.name;
        }
    }
}

// The reading of a list gives the check's findings of every line with its records, one round
// trip a line: they are what the check of each line by itself finds, for lines of every kind.
TEST(Wanted, TheListsFindingsAreTheChecksOfEachLine) {
    const std::vector<std::pair<uint32_t, std::vector<std::string>>> lists = {
        {1,
         {"12A5##Tea", "5000A1", "no separator", std::string("5A\0x", 4), "5A##a##b##c##d",
          "5A1 2##x", "12A5##Coffee", "-3A1"}},
        {3, {"5Ahi", "40Ahi", "5A", "12A0100000599##Apple"}},
        {10, {"3AxBy", "3Ax", "3ABESTBOpen"}},
        {12, {std::string(568, '7'), "ab"}},
        {2, {"12", "5000"}},  // a read request: findings, and no record
    };
    for (bool en : {false, true}) {
        for (const auto& list : lists) {
            std::vector<std::vector<model::Finding>> findings;
            WantedList wanted = WantedOfDataLines(list.first, en, list.second, &findings);
            ASSERT_EQ(findings.size(), list.second.size()) << "type " << list.first;
            for (std::size_t i = 0; i < list.second.size(); ++i) {
                std::vector<model::Finding> alone =
                    model::CheckDataLine(list.first, en, list.second[i]);
                ASSERT_EQ(findings[i].size(), alone.size()) << model::Quoted(list.second[i]);
                for (std::size_t f = 0; f < alone.size(); ++f) {
                    EXPECT_EQ(findings[i][f].field + ": " + findings[i][f].what,
                              alone[f].field + ": " + alone[f].what);
                }
            }
            // Asking for the findings changes nothing of the records.
            EXPECT_EQ(ImageOf(wanted), ImageOf(WantedOfDataLines(list.first, en, list.second)))
                << "type " << list.first;
        }
    }
}

// A line whose number goes out as no number ("-3" as "00-3") is refused by the scale: it leaves
// the record of an earlier line alone (it had emptied item 0, which a sync would then remove).
// The tool reads an image's lines of each type as one list (one round trip a line, the check's
// findings with it): that must ask for what reading the image record by record asks for.
TEST(Wanted, AnImagesLinesOfATypeAskForWhatItsRecordsAskFor) {
    const std::vector<std::vector<std::string>> images = {
        {"1P0012A0100000599##Apple", "1P0013A", "1P0042A5##Tea##Green", "3P05Ahello"},
        {"1P0001A1##" + std::string(80, 'x'), "1P4000A9", "7Pfree text",
         "12P" + std::string(568, '1')},
        {"3P01Aone", "3P16Asixteen", "5P02Alabel", "5P03Alabel two"},
        {"1P0001A1", "1P0002A", "1P0003A2##T##U##V", "1P0004A0000000001"},
    };
    for (bool en : {false, true}) {
        for (const std::vector<std::string>& lines : images) {
            Image image;
            std::string error;
            ASSERT_TRUE(ReadImage("i", lines, {}, image, error)) << error;
            std::map<uint32_t, std::vector<std::string>> ofType;
            for (const std::string& line : lines) {
                RecordKey key;
                ASSERT_TRUE(model::KeyOfUploadLine(line, key)) << line;
                ofType[key.type].push_back(line.substr(model::UploadPrefix(key.type).size()));
            }
            WantedList asOneList;
            for (const auto& [type, data] : ofType) {
                std::vector<std::vector<model::Finding>> findings;
                WantedList one = WantedOfDataLines(type, en, data, &findings);
                EXPECT_EQ(findings.size(), data.size());
                asOneList.insert(one.begin(), one.end());
            }
            WantedList byRecord = WantedOfImage(image, en);
            ASSERT_EQ(asOneList.size(), byRecord.size()) << lines[0];
            for (auto a = asOneList.begin(), b = byRecord.begin(); a != asOneList.end(); ++a, ++b) {
                EXPECT_TRUE(a->first == b->first) << lines[0];
                EXPECT_EQ(a->second.dataLine, b->second.dataLine);
                EXPECT_EQ(a->second.line, b->second.line);
                EXPECT_EQ(a->second.unkeepable, b->second.unkeepable);
            }
        }
    }
}

TEST(Wanted, ALineWhoseNumberIsNoNumberStoresNothing) {
    for (const std::vector<std::string>& lines : {std::vector<std::string>{"0A1##Tea", "-3A1"},
                                                  std::vector<std::string>{"-3A1", "0A1##Tea"}}) {
        WantedList list = WantedOfDataLines(1, false, lines);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_TRUE(list.begin()->first == (RecordKey{1, 0}));
        EXPECT_EQ(list.begin()->second.line, "1P0000A1##Tea");
    }
    EXPECT_TRUE(WantedOfDataLines(1, false, {"-3A1"}).empty());
}

struct RepliesCase {
    const char* name;
    bool en;
    std::vector<std::string> sent;     // item data lines sent to a scale first
    std::vector<std::string> replies;  // in place of the scale's own, when not empty
    std::string failure;
    std::vector<std::string> broken;
    std::size_t records;
};

// The replies of a scale that holds the items to the reads of items 12 and 13.
std::vector<std::string> ScaleReplies(const ReadList& list, const RepliesCase& c) {
    if (!c.replies.empty()) return c.replies;
    model::ScaleMemory memory(model::TextModeOf(c.en));
    for (const std::string& command : BuildCommandList(1, c.sent, c.en)) {
        memory.Answer(model::WithoutLineEnd(command));
    }
    std::vector<std::string> replies;
    for (const std::string& command : *list.commands) {
        replies.push_back(memory.Answer(model::WithoutLineEnd(command)));
    }
    return replies;
}

TEST(ReadReplies, ErrorsAndNoScalesRepliesFailTheReadingAndLineBreaksBreakTheRecord) {
    const RepliesCase cases[] = {
        {"an empty scale", false, {}, {}, "", {}, 0},
        {"two records", false, {"12A1##Tea", "13A2##Milk"}, {}, "", {}, 2},
        {"every read refused",
         false,
         {},
         {"0eUNKNOWN", "0eUNKNOWN"},
         "2 of 2 read(s) answered with an error or no scale's reply; the first, for item 0012: "
         "\"0eUNKNOWN\"",
         {},
         0},
        {"a line no scale sends",
         false,
         {},
         {"0fU0012", "HTTP/1.1 400 Bad Request"},
         "1 of 2 read(s) answered with an error or no scale's reply; the first, for item 0013: "
         "\"HTTP/1.1 400 Bad Request\"",
         {},
         0},
        {"a text decoded to an LF",
         true,
         {"12AD120010121", "13A1##Tea"},
         {},
         "",
         {"item 0012: holds a line break, which an image line cannot hold"},
         1},
    };
    for (const RepliesCase& c : cases) {
        ReadList reads = model::BuildReadRequests({{1, 12}, {1, 13}}, c.en);
        ReadOutcome outcome = ReadReplies(reads, ScaleReplies(reads, c), 0, c.en);
        EXPECT_EQ(outcome.failure, c.failure) << c.name;
        EXPECT_EQ(outcome.broken, c.broken) << c.name;
        EXPECT_EQ(outcome.image.size(), c.records) << c.name;
    }
}

TEST(Image, FileNamesAreSafeOnEverySystem) {
    EXPECT_EQ(ImageFileName("127.0.0.1:4001", 4001), "127.0.0.1_4001.txt");
    EXPECT_EQ(ImageFileName("[::1]:9", 4001), "__1_9.txt");
    EXPECT_EQ(ImageFileName("Scale-7", 4001), "scale-7_4001.txt");
    EXPECT_EQ(ImageFileName("", 4001), "");
    // A serial line's file has no speed in its name: the same device is the same scale.
    EXPECT_EQ(ImageFileName("serial:/dev/ttyUSB0", 4001), "serial__dev_ttyusb0.txt");
    EXPECT_EQ(ImageFileName("serial:/dev/ttyUSB0@19200", 4001), "serial__dev_ttyusb0.txt");
    EXPECT_EQ(ImageFileName("serial:COM3", 4001), "serial_com3.txt");
    EXPECT_EQ(ImageFileName("serial:\\\\.\\COM12@19200", 4001), "serial_com12.txt");
    EXPECT_EQ(ImageFileName("serial:", 4001), "");
}

#ifndef _WIN32
// The same device named twice, by a link or at another speed, is one scale; each other device,
// and each network scale, is a scale of its own.
TEST(ScaleIdentity, TheSameSerialDeviceNamedTwiceIsOneScale) {
    testing::TempDirectory directory;
    std::string line = (directory.Path() / "ttyUSB0").string();
    std::string other = (directory.Path() / "ttyUSB1").string();
    std::string link = (directory.Path() / "usb-scale-1").string();
    WriteWholeFile(line.c_str(), "");
    WriteWholeFile(other.c_str(), "");
    std::filesystem::create_symlink(line, link);
    const std::vector<std::string> addresses = {
        "serial:" + line,
        "serial:" + link + "@19200",
        "serial:" + other,
        "127.0.0.1:4001",
        "serial:" + line + "@9600",
        "serial:" + directory.Path().string() + "/gone",
        "serial:" + other + "@1200",
    };
    const std::vector<std::size_t> firsts = {0, 0, 2, 3, 0, 5, 2};
    std::vector<ScaleOfAddress> scales = IdentifyScales(addresses, 4001);
    ASSERT_EQ(scales.size(), addresses.size());
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        EXPECT_EQ(scales[i].first, firsts[i]) << addresses[i];
    }
    EXPECT_EQ(SameScaleNote(addresses[4], addresses[0], scales[4]),
              "'" + addresses[4] + "' is the scale of '" + addresses[0] + "' again: sent to once");
}
#endif

// ---- A day with a virtual fleet --------------------------------------------------------------

class Day : public OnVirtualScales {
  protected:
    Day() : OnVirtualScales(3) {}

    void StartFleet(std::chrono::milliseconds delay) {
        scale::ServerOptions options;
        options.replyDelay = delay;
        StartScales(options);
    }

    SyncResult Run(const std::vector<std::string>& items, bool removeMissing = false) {
        SyncOptions options;
        options.stateDir = "state";
        options.listTypes = {1};
        options.removeMissing = removeMissing;
        return Sync(WantedOfDataLines(1, false, items), addresses_, options);
    }

    Image Held(std::size_t scale) {
        PullRequest items;
        items.types = {1};
        items.lastItem = 50;
        return Pull({addresses_[scale]}, SlotsOf(items), false, {})[0].image;
    }
};

std::vector<std::string> Items(int count, const std::string& text = "Item") {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back(std::to_string(i) + "A1,2##" + text + std::to_string(i));
    return lines;
}

TEST_F(Day, FirstSyncSendsEverythingThenNothing) {
    SyncResult first = Run(Items(10));
    ASSERT_EQ(first.error, "");
    for (const ScaleSync& scale : first.scales) {
        EXPECT_EQ(scale.failure, "");
        EXPECT_EQ(scale.sent, 10u);
        EXPECT_EQ(scale.confirmed, 10u);
        EXPECT_TRUE(scale.fromScale);
    }
    EXPECT_EQ(Held(2), ImageOf(WantedOfDataLines(1, false, Items(10))));
    SyncResult second = Run(Items(10));
    EXPECT_EQ(second.scales[0].sent, 0u);
    EXPECT_EQ(second.scales[0].unchanged, 10u);
    EXPECT_FALSE(second.scales[0].fromScale);
}

TEST_F(Day, ChangeAddAndRemoveSendOnlyThose) {
    Run(Items(10));
    std::vector<std::string> today = Items(12);
    today[2] = "3A9,9##Cheaper";
    today.erase(today.begin());  // item 1 no longer sold
    SyncResult result = Run(today, true);
    for (const ScaleSync& scale : result.scales) {
        EXPECT_EQ(scale.failure, "");
        EXPECT_EQ(scale.sent, 3u);  // item 3 changed, 11 and 12 new
        EXPECT_EQ(scale.removed, 1u);
        EXPECT_EQ(scale.unchanged, 8u);
    }
    Image held = Held(1);
    EXPECT_EQ(held, ImageOf(WantedOfDataLines(1, false, today)));
    EXPECT_EQ(held.count({1, 1}), 0u);
    // The state is the image and the journal of the run's changes beside it.
    Image state;
    std::string error;
    std::string text;
    bool journaled = false;
    ASSERT_TRUE(
        ReadStateImageFile("state/" + ImageFileName(addresses_[1], 0), text, journaled, error));
    EXPECT_TRUE(journaled);
    ASSERT_TRUE(ReadImageText("s", text, state, error));
    EXPECT_EQ(state, held);
}

TEST_F(Day, DriftAtTheScaleIsFoundByAReadAndMended) {
    Run(Items(5));
    fleet_->Memory(0).Answer("!0V0004A7B" + std::string("0369C0388DE"));  // someone at the keys
    Image state;
    std::string error;
    ASSERT_TRUE(ReadImageText(
        "s", ReadWholeFile(("state/" + ImageFileName(addresses_[0], 0)).c_str()), state, error));
    std::vector<DiffRow> rows = DiffImages(state, Held(0));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].key, (RecordKey{1, 4}));
    SyncOptions options;
    options.stateDir = "state";
    options.listTypes = {1};
    options.probe = 0;
    // The state alone does not see it.
    EXPECT_EQ(Sync(WantedOfDataLines(1, false, Items(5)), addresses_, options).scales[0].sent, 0u);
    options.readScales = true;
    SyncResult read = Sync(WantedOfDataLines(1, false, Items(5)), addresses_, options);
    EXPECT_EQ(read.scales[0].sent, 1u);
    EXPECT_EQ(read.scales[1].sent, 0u);
    EXPECT_TRUE(DiffImages(Held(0), ImageOf(WantedOfDataLines(1, false, Items(5)))).empty());
}

TEST_F(Day, ARunKilledHalfWayIsFinishedByTheNext) {
    Run(Items(6));
    // What a run killed after sending items 2 and 3 to scale 0 leaves: the old image, and the
    // records it had started to send.
    std::vector<std::string> today = Items(6, "New");
    std::vector<std::string> sentBeforeKill = {"2A1,2##New2", "3A1,2##New3"};
    SyncOptions once;
    once.stateDir = "elsewhere";
    Sync(WantedOfDataLines(1, false, sentBeforeKill), {addresses_[0]}, once);
    std::string name = ImageFileName(addresses_[0], 0);
    WriteWholeFile("state/.pending", name + " 1 2\n" + name + " 1 3\n" + name + " 1 4\n");
    SyncResult result = Run(today);
    EXPECT_EQ(result.scales[0].failure, "");
    EXPECT_EQ(result.scales[0].sent, 4u);  // 1, 4, 5, 6: 2 and 3 had arrived
    EXPECT_EQ(result.scales[1].sent, 6u);
    EXPECT_FALSE(std::filesystem::exists("state/.pending"));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Held(i), ImageOf(WantedOfDataLines(1, false, today))) << i;
    }
}

TEST_F(Day, ASecondSyncOnTheSameStateStopsNamingTheFirst) {
    StartFleet(std::chrono::milliseconds(20));
    // Empty images in the state: nothing to read first, only the records to send.
    std::filesystem::create_directory("state");
    for (const std::string& address : addresses_) {
        WriteWholeFile(("state/" + ImageFileName(address, 0)).c_str(), "");
    }
    std::atomic<bool> done{false};
    SyncResult first;
    std::thread running([&] {
        first = Run(Items(30));
        done = true;
    });
    while (!std::filesystem::exists("state/.lock") && !done) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    SyncResult second = Run(Items(30));
    running.join();
    EXPECT_EQ(first.error, "");
    EXPECT_NE(second.error.find("another sync (process "), std::string::npos) << second.error;
    EXPECT_TRUE(second.scales.empty());
    EXPECT_EQ(Held(0).size(), 30u);
}

TEST_F(Day, AScaleThatFailsAmongScalesThatHoldAlikeKeepsItsOldImage) {
    scale::ScaleFleet spare(1, scale::ServerOptions{});
    std::string error;
    ASSERT_TRUE(spare.Start(error)) << error;
    addresses_.push_back("127.0.0.1:" + std::to_string(spare.Ports()[0]));
    Run(Items(5));
    std::string name = ImageFileName(addresses_[3], 0);
    std::string before = ReadWholeFile(("state/" + name).c_str());
    spare.Stop();
    SyncOptions options;
    options.stateDir = "state";
    options.listTypes = {1};
    options.settings.tries = 1;
    options.probe = 0;  // first contacted by the send itself
    SyncResult result = Sync(WantedOfDataLines(1, false, Items(5, "New")), addresses_, options);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result.scales[i].failure, "") << i;
        EXPECT_EQ(result.scales[i].confirmed, 5u) << i;
    }
    EXPECT_NE(result.scales[3].failure, "");
    EXPECT_EQ(result.scales[3].confirmed, 0u);
    EXPECT_EQ(ReadWholeFile(("state/" + name).c_str()), before);
    EXPECT_EQ(ReadWholeFile("state/.pending").substr(0, name.size() + 5), name + " 1 1\n");
    EXPECT_EQ(Held(0), ImageOf(WantedOfDataLines(1, false, Items(5, "New"))));
}

// A scale that is off is not planned, but its row says what its state foresees: the 20 changes
// the next run will send it. One the state knows nothing of foresees nothing.
TEST_F(Day, AScaleThatIsOffKeepsTheChangesItsStateForesees) {
    scale::ScaleFleet spare(2, scale::ServerOptions{});
    std::string error;
    ASSERT_TRUE(spare.Start(error)) << error;
    for (uint16_t port : spare.Ports()) addresses_.push_back("127.0.0.1:" + std::to_string(port));
    SyncOptions options;
    options.stateDir = "state";
    options.listTypes = {1};
    options.settings.tries = 1;
    ASSERT_EQ(Sync(WantedOfDataLines(1, false, Items(5)), {addresses_[3]}, options).error, "");
    spare.Stop();
    for (bool dryRun : {true, false}) {
        options.dryRun = dryRun;
        // Items 1 to 5 changed, 6 to 20 new.
        SyncResult result =
            Sync(WantedOfDataLines(1, false, Items(20, "New")), addresses_, options);
        const ScaleSync& off = result.scales[3];
        EXPECT_EQ(off.status, SyncStatus::kFailed) << dryRun;
        EXPECT_EQ(off.code, WQDS_REFUSED) << dryRun;
        EXPECT_TRUE(off.foreseen) << dryRun;
        EXPECT_EQ(off.plan, nullptr) << dryRun;
        EXPECT_EQ(off.sent, 20u) << dryRun;
        EXPECT_EQ(off.pending, 20u) << dryRun;
        EXPECT_EQ(off.unchanged, 0u) << dryRun;
        EXPECT_EQ(off.confirmed, 0u) << dryRun;
        const ScaleSync& unknown = result.scales[4];
        EXPECT_EQ(unknown.status, SyncStatus::kFailed) << dryRun;
        EXPECT_EQ(unknown.sent + unknown.pending + unknown.unchanged, 0u) << dryRun;
        EXPECT_EQ(result.scales[0].sent, 20u) << dryRun;
        EXPECT_FALSE(result.scales[0].foreseen) << dryRun;
        EXPECT_EQ(result.scales[0].pending, 0u) << dryRun;
    }
    // Stopped before anything was sent: every scale says what is due.
    std::atomic<bool> stop{true};
    options.observer.stop = &stop;
    SyncResult stopped = Sync(WantedOfDataLines(1, false, Items(21, "New")), addresses_, options);
    EXPECT_TRUE(stopped.interrupted);
    EXPECT_EQ(stopped.scales[0].status, SyncStatus::kInterrupted);
    EXPECT_EQ(stopped.scales[0].pending, 1u);
    EXPECT_EQ(stopped.scales[0].unchanged, 20u);
    EXPECT_EQ(stopped.scales[3].pending, 21u);
}

// Scales that hold alike answer alike until one stops: whatever line it stopped at, it keeps what
// it confirmed and no more, and the others everything.
TEST_F(Day, AScaleThatStopsMidSendAmongScalesThatAnswerAlikeKeepsWhatItConfirmed) {
    scale::ScaleFleet spare(1, scale::ServerOptions{});
    std::string error;
    ASSERT_TRUE(spare.Start(error)) << error;
    addresses_.push_back("127.0.0.1:" + std::to_string(spare.Ports()[0]));
    Run(Items(5));
    SyncOptions options;
    options.stateDir = "state";
    options.listTypes = {1};
    options.settings.tries = 1;
    options.probe = 0;
    // 20 writes, then 20 reads back: it stops once 7 of the reads are answered.
    options.observer.lineAnswered = [&spare](std::size_t scale, std::size_t answered) {
        if (scale == 3 && answered == 27) spare.Stop();
    };
    std::vector<std::string> lines = Items(20, "New");
    SyncResult result = Sync(WantedOfDataLines(1, false, lines), addresses_, options);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(result.scales[i].confirmed, 20u) << i;
    std::size_t kept = result.scales[3].confirmed;
    EXPECT_NE(result.scales[3].failure, "");
    EXPECT_GE(kept, 7u);
    EXPECT_LT(kept, 20u);
    Image expected = ImageOf(WantedOfDataLines(1, false, Items(5)));
    Image confirmed = ImageOf(WantedOfDataLines(
        1, false,
        std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(kept))));
    for (const auto& record : confirmed) expected[record.first] = record.second;
    std::string bytes;
    bool journaled = false;
    ASSERT_TRUE(
        ReadStateImageFile("state/" + ImageFileName(addresses_[3], 0), bytes, journaled, error))
        << error;
    Image state;
    ASSERT_TRUE(ReadImageText("state", bytes, state, error)) << error;
    EXPECT_EQ(WriteImage(state), WriteImage(expected));
    EXPECT_EQ(Held(0), ImageOf(WantedOfDataLines(1, false, lines)));
}

TEST_F(Day, APulledImageLoadsAReplacementScaleIdentically) {
    Run(Items(8));
    fleet_->Memory(0).Answer("!0X05A0333B");
    fleet_->Memory(0).Answer("!0T03A0333");
    fleet_->Memory(0).Answer("!0R03A0334");
    std::vector<RecordKey> every = SlotsOf(PullRequest{});
    ScaleImage before = Pull({addresses_[0]}, every, false, {})[0];
    ASSERT_EQ(before.code, WQDS_OK);
    ASSERT_TRUE(before.broken.empty());
    ASSERT_EQ(before.image.size(), 10u);  // 8 items, a message and a label
    SyncOptions copy;
    copy.stateDir = "copy";
    copy.listTypes = {1, 3, 5, 7, 10, 12};
    copy.removeMissing = true;
    Sync(WantedOfImage(before.image, false), {addresses_[2]}, copy);
    ScaleImage after = Pull({addresses_[2]}, every, false, {})[0];
    EXPECT_EQ(WriteImage(after.image), WriteImage(before.image));
}

}  // namespace
}  // namespace vudaduv::fleet
