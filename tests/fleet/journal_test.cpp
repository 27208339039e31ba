// A scale's state as its image and the journal beside it: the rule that reads them, and syncs on
// a small virtual fleet that write only their changes, survive a kill and a full disk, and
// compact the journal once it outgrows the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#ifdef __linux__
#include <sys/mount.h>
#endif
#ifndef _WIN32

#include <csignal>
#endif

#include "fleet_internal.h"
#include "scales_fixture.h"
#include "temp_directory.h"
#include "vudaduv_fleet.h"

namespace vudaduv::fleet {
namespace {

using testing::ReadWholeFile;
using testing::WriteWholeFile;

// ---- The rule: the image, then the journal's whole lines in order ----------------------------

struct JournalCase {
    const char* name;
    const char* image;
    const char* journal;
    const char* state;  // the state written as an image; "" with error
    const char* error;  // the start of the error
};

const JournalCase kJournalCases[] = {
    {"a later line replaces an earlier", "1P0001A1,2##a\n1P0002A1,2##b\n",
     "1P0002A1,2##c\n1P0002A1,2##d\n", "1P0001A1,2##a\n1P0002A1,2##d\n", ""},
    {"a line that holds nothing removes", "1P0001A1,2##a\n1P0002A1,2##b\n", "1P0001A\n",
     "1P0002A1,2##b\n", ""},
    {"a removed record can come back", "1P0001A1,2##a\n", "1P0001A\n1P0001A3##z\n", "1P0001A3##z\n",
     ""},
    {"a new record takes its place", "1P0005A1##e\n", "3P02A0333B\n1P0001A1##a\n",
     "1P0001A1##a\n1P0005A1##e\n3P02A0333B\n", ""},
    {"a tail without its LF is no line", "1P0001A1,2##a\n", "1P0001A9##x\n1P0001A1,2##tor",
     "1P0001A9##x\n", ""},
    {"CR LF line ends", "1P0001A1##a\r\n", "1P0001A2##b\r\n", "1P0001A2##b\n", ""},
    {"a line that is no record is named", "1P0001A1##a\n", "1P0001A2##b\nhello\n", "",
     "j:2: not a record"},
    {"the image still names a key once", "1P0001A1##a\n1P0001A1##b\n", "", "",
     "i:2: item 0001 a second time"},
};

class Journal : public ::testing::TestWithParam<JournalCase> {};

TEST_P(Journal, TheStateIsTheImageThenTheJournalsLines) {
    const JournalCase& row = GetParam();
    Image image;
    std::string error;
    bool ok =
        ReadImageText("i", row.image, image, error) && ApplyJournal("j", row.journal, image, error);
    if (row.error[0] != '\0') {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error.rfind(row.error, 0), 0u) << error;
        return;
    }
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(WriteImage(image), row.state);
}

INSTANTIATE_TEST_SUITE_P(Rows, Journal, ::testing::ValuesIn(kJournalCases),
                         [](const ::testing::TestParamInfo<JournalCase>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name;
                         });

TEST(Journal, OnlyWholeLinesUpToTheRecordedLengthCount) {
    const std::string journal = "1P0001A\n1P0002A\n1P00";
    EXPECT_EQ(JournalBytesThatCount(journal, kWholeJournal), 16u);
    EXPECT_EQ(JournalBytesThatCount(journal, 16), 16u);
    EXPECT_EQ(JournalBytesThatCount(journal, 15), 8u);
    EXPECT_EQ(JournalBytesThatCount(journal, 0), 0u);
    EXPECT_EQ(JournalBytesThatCount("1P0001A", kWholeJournal), 0u);
}

TEST(Journal, PendingKeepsEachScalesRecordsAndJournalLength) {
    Pending pending;
    pending["a_1.txt"].keys = MakeKeyList({{1, 2}, {3, 5}});
    pending["a_1.txt"].journalBytes = 120;
    pending["b_1.txt"].keys = MakeKeyList({{7, -1}});
    Pending back = ReadPending(WritePending(pending));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(KeysIn(back["a_1.txt"].keys), KeysIn(pending["a_1.txt"].keys));
    EXPECT_EQ(back["a_1.txt"].journalBytes, 120u);
    EXPECT_EQ(KeysIn(back["b_1.txt"].keys), KeysIn(pending["b_1.txt"].keys));
    EXPECT_EQ(back["b_1.txt"].journalBytes, kWholeJournal);
    // A file from before journals: records only, the whole journal counts.
    Pending old = ReadPending("a_1.txt 1 2\na_1.txt 1 3\n");
    EXPECT_EQ(KeysIn(old["a_1.txt"].keys).size(), 2u);
    EXPECT_EQ(old["a_1.txt"].journalBytes, kWholeJournal);
}

// Scales sent one list name it once: the file grows by a line a scale, not by a line a record,
// and every scale reads back its records and its own journal length.
TEST(Journal, PendingNamesAListSharedByManyScalesOnce) {
    std::vector<RecordKey> keys;
    for (int32_t number = 0; number < 1000; ++number) keys.push_back({1, number});
    KeyList shared = MakeKeyList(keys);
    Pending pending;
    for (int scale = 0; scale < 100; ++scale) {
        PendingScale& entry = pending["s" + std::to_string(1000 + scale) + "_1.txt"];
        entry.keys = shared;
        entry.journalBytes = static_cast<std::uintmax_t>(scale) * 7;
    }
    pending["t_1.txt"].keys = MakeKeyList({{3, 4}});  // a list of its own
    std::string text = WritePending(pending);
    // The list once, "same" for the 99 others, a journal length for each of the 100, and the
    // record of the one apart.
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1000 + 99 + 100 + 1)
        << text.substr(0, 200);
    Pending back = ReadPending(text);
    ASSERT_EQ(back.size(), 101u);
    for (const auto& scale : pending) {
        EXPECT_EQ(KeysIn(back[scale.first].keys), KeysIn(scale.second.keys)) << scale.first;
        EXPECT_EQ(back[scale.first].journalBytes, scale.second.journalBytes) << scale.first;
    }
    // Read as a whole, whatever the order of the lines: a scale named the same as another that
    // names nothing (a torn file) names nothing, and is still known by its journal length.
    Pending torn = ReadPending("b_1.txt same a_1.txt\nb_1.txt journal 9\nc_1.txt same b_1.txt\n");
    EXPECT_TRUE(KeysIn(torn["b_1.txt"].keys).empty());
    EXPECT_EQ(torn["b_1.txt"].journalBytes, 9u);
    EXPECT_EQ(torn.count("c_1.txt"), 0u);
    Pending late = ReadPending("b_1.txt same a_1.txt\na_1.txt 1 5\n");
    EXPECT_EQ(KeysIn(late["b_1.txt"].keys), (std::vector<RecordKey>{{1, 5}}));
}

// ---- Syncs on three virtual scales --------------------------------------------------------------

class StateJournal : public OnVirtualScales {
  protected:
    StateJournal() : OnVirtualScales(3) {}

    SyncResult Run(const std::vector<std::string>& items,
                   const std::function<void(SyncOptions&)>& adjust = {}) {
        SyncOptions options;
        options.stateDir = "state";
        options.listTypes = {1};
        options.removeMissing = true;
        options.maxRemove.kind = RemovalCap::kAll;
        if (adjust) adjust(options);
        return Sync(WantedOfDataLines(1, false, items), addresses_, options);
    }

    Image Held(std::size_t scale) {
        PullRequest items;
        items.types = {1};
        items.lastItem = 60;
        return Pull({addresses_[scale]}, SlotsOf(items), false, {})[0].image;
    }

    std::string File(std::size_t scale) const {
        return "state/" + ImageFileName(addresses_[scale], 0);
    }
    std::string JournalOf(std::size_t scale) const {
        return "state/" + JournalFileName(ImageFileName(addresses_[scale], 0));
    }

    // The scale's state as the tool reads it.
    Image State(std::size_t scale) {
        std::string text;
        std::string error;
        bool journaled = false;
        Image image;
        EXPECT_TRUE(ReadStateImageFile(File(scale), text, journaled, error)) << error;
        EXPECT_TRUE(ReadImageText("s", text, image, error)) << error;
        return image;
    }
};

std::vector<std::string> Items(int count, const std::string& text = "Item") {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i)
        lines.push_back(std::to_string(i) + "A1,2##" + text + std::to_string(i));
    return lines;
}

// The upload lines of the records that today's list holds otherwise than before's.
std::string ChangedLines(const std::vector<std::string>& before,
                         const std::vector<std::string>& today) {
    Image old = ImageOf(WantedOfDataLines(1, false, before));
    std::string lines;
    for (const auto& record : ImageOf(WantedOfDataLines(1, false, today))) {
        auto was = old.find(record.first);
        if (was == old.end() || was->second != record.second) lines += record.second + "\n";
    }
    return lines;
}

TEST_F(StateJournal, ASecondRunWritesOnlyItsChangesToTheJournal) {
    std::vector<std::string> before = Items(40);
    ASSERT_EQ(Run(before).stateError, "");
    std::string image = ReadWholeFile(File(1).c_str());
    EXPECT_FALSE(std::filesystem::exists(JournalOf(1)));
    std::vector<std::string> today = before;
    today[4] = "5A9,9##Cheaper";
    today[30] = "31A1,2##Renamed";
    today.erase(today.begin() + 10);  // item 11 removed
    SyncResult second = Run(today);
    ASSERT_EQ(second.stateError, "");
    for (const ScaleSync& scale : second.scales) EXPECT_EQ(scale.confirmed, 3u);
    // The image is not written again; the journal holds the changes, the removal as nothing.
    EXPECT_EQ(ReadWholeFile(File(1).c_str()), image);
    EXPECT_EQ(ReadWholeFile(JournalOf(1).c_str()),
              "1P0005A9,9##Cheaper\n1P0031A1,2##Renamed\n1P0011A\n");
    std::size_t changed = ChangedLines(before, today).size() + std::string("1P0011A\n").size();
    EXPECT_LE(second.stateBytesWritten, 3 * (4 * changed + 64));
    EXPECT_GT(second.stateBytesWritten, 3 * changed);
    EXPECT_FALSE(std::filesystem::exists("state/.pending"));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(State(i), Held(i)) << i;
    // Nothing changed: nothing written.
    SyncResult third = Run(today);
    EXPECT_EQ(third.stateBytesWritten, 0u);
    EXPECT_EQ(third.scales[0].sent + third.scales[0].removed, 0u);
}

TEST_F(StateJournal, AKillAfterTheAppendLeavesATailThatIsNoState) {
    std::vector<std::string> second = Items(20);
    Run(second);
    second[0] = "1A1,2##Second";
    Run(second);
    std::uintmax_t length = std::filesystem::file_size(JournalOf(0));
    ASSERT_GT(length, 0u);
    // What a run killed while it appended leaves: .pending naming its records and the length
    // before, the scale holding item 2 changed, and in the journal a line it had confirmed for
    // item 2 and a part of the next, for item 3.
    std::vector<std::string> today = second;
    today[1] = "2A1,2##Killed";
    today[2] = "3A1,2##Killed";
    SyncOptions once;
    once.stateDir = "elsewhere";
    Sync(WantedOfDataLines(1, false, {today[1]}), {addresses_[0]}, once);
    std::string name = ImageFileName(addresses_[0], 0);
    WriteWholeFile("state/.pending", name + " 1 2\n" + name + " 1 3\n" + name + " journal " +
                                         std::to_string(length) + "\n");
    std::string journal = ReadWholeFile(JournalOf(0).c_str());
    WriteWholeFile(JournalOf(0).c_str(), journal + "1P0002A1,2##Killed\n1P0003A1,2##Kil");
    // Read now, the state is what was confirmed before the kill.
    Image confirmed = ImageOf(WantedOfDataLines(1, false, second));
    EXPECT_EQ(State(0), confirmed);
    SyncResult result = Run(today);
    EXPECT_EQ(result.stateError, "");
    EXPECT_EQ(result.scales[0].failure, "");
    EXPECT_EQ(result.scales[0].sent, 1u);  // item 3 only: item 2 had arrived
    EXPECT_EQ(result.scales[1].sent, 2u);
    EXPECT_FALSE(std::filesystem::exists("state/.pending"));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Held(i), ImageOf(WantedOfDataLines(1, false, today))) << i;
        EXPECT_EQ(State(i), Held(i)) << i;
    }
    // The torn tail was cut off, not kept between lines.
    std::string now = ReadWholeFile(JournalOf(0).c_str());
    EXPECT_EQ(now.find("Kil\n"), std::string::npos);
    EXPECT_EQ(now.find("##Kil1P"), std::string::npos);
    EXPECT_EQ(Run(today).scales[0].sent, 0u);
}

#ifndef _WIN32
// Files may not grow beyond a size while it lives: a disk that fills part-way through a write.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, SIG_DFL);
    }

  private:
    rlimit old_{};
};
#endif

TEST_F(StateJournal, ADiskThatFillsWhileTheJournalGrowsLosesNothing) {
#ifdef _WIN32
    GTEST_SKIP() << "the file size limit is POSIX's";
#else
    std::vector<std::string> before = Items(50);
    Run(before);
    std::vector<std::string> first = before;
    for (int i = 0; i < 15; ++i) first[static_cast<std::size_t>(i)] = Items(15, "First")[i];
    Run(first);
    std::uintmax_t length = std::filesystem::file_size(JournalOf(0));
    std::vector<std::string> today = first;
    today[40] = "41A1,2##Full";
    today[41] = "42A1,2##Full";
    // Once .pending is written and the send begins, there is room for a part of the two lines
    // at the journal's end only.
    std::unique_ptr<FileSizeLimit> limit;
    SyncResult full = Run(today, [&](SyncOptions& options) {
        options.phaseStarted = [&](SyncPhase phase, std::size_t, std::size_t) {
            if (phase == SyncPhase::kSending) limit = std::make_unique<FileSizeLimit>(length + 10);
        };
    });
    ASSERT_NE(limit, nullptr);
    limit.reset();
    EXPECT_NE(full.stateError, "");
    for (const ScaleSync& scale : full.scales) EXPECT_EQ(scale.status, SyncStatus::kFailed);
    // Sent, but not in the state: the journals are as they were and .pending names the records.
    EXPECT_EQ(std::filesystem::file_size(JournalOf(0)), length);
    EXPECT_EQ(State(0), ImageOf(WantedOfDataLines(1, false, first)));
    EXPECT_NE(ReadWholeFile("state/.pending").find(" 1 41\n"), std::string::npos);
    EXPECT_EQ(Held(0), ImageOf(WantedOfDataLines(1, false, today)));
    // Room again: the next run reads the records back and sends nothing more.
    SyncResult next = Run(today);
    EXPECT_EQ(next.stateError, "");
    for (const ScaleSync& scale : next.scales) {
        EXPECT_EQ(scale.failure, "");
        EXPECT_EQ(scale.sent, 0u);
    }
    EXPECT_FALSE(std::filesystem::exists("state/.pending"));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(State(i), Held(i)) << i;
#endif
}

TEST_F(StateJournal, AJournalThatOutgrowsItsImageIsFoldedIntoIt) {
    std::vector<std::string> day = Items(30);
    Run(day);
    std::uintmax_t image = std::filesystem::file_size(File(2));
    // Two thirds of the list change twice: the second time the journal would pass the image.
    for (const char* text : {"One", "Two"}) {
        for (std::size_t i = 0; i < 20; ++i) {
            day[i] = std::to_string(i + 1) + "A1,2##" + text + std::to_string(i);
        }
        SyncResult result = Run(day);
        ASSERT_EQ(result.stateError, "");
        if (std::string(text) == "One") {
            ASSERT_TRUE(std::filesystem::exists(JournalOf(2)));
            EXPECT_LE(std::filesystem::file_size(JournalOf(2)), image);
        } else {
            EXPECT_FALSE(std::filesystem::exists(JournalOf(2)));
            EXPECT_EQ(ReadWholeFile(File(2).c_str()), WriteImage(Held(2)));
        }
    }
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(State(i), Held(i)) << i;
}

TEST_F(StateJournal, AScaleReadInFullReplacesImageAndJournal) {
    Run(Items(10));
    std::vector<std::string> today = Items(10);
    today[0] = "1A1,2##Twice";
    Run(today);
    ASSERT_TRUE(std::filesystem::exists(JournalOf(0)));
    // Someone changed item 1 at scale 0; a run that reads the scales in full writes what they
    // hold as new images, and the journals of the old ones must not be taken in over them.
    SyncOptions once;
    once.stateDir = "elsewhere";
    Sync(WantedOfDataLines(1, false, {"1A1,2##Other"}), {addresses_[0]}, once);
    SyncResult result = Run(today, [](SyncOptions& options) { options.readScales = true; });
    EXPECT_EQ(result.scales[0].sent, 1u);
    EXPECT_EQ(result.scales[1].sent, 0u);
    EXPECT_FALSE(std::filesystem::exists(JournalOf(1)));
    EXPECT_FALSE(std::filesystem::exists(JournalOf(0)));
    EXPECT_EQ(State(0), Held(0));
    EXPECT_EQ(Held(0), ImageOf(WantedOfDataLines(1, false, today)));
}

// ---- Room on the disk, and the record of the last good run --------------------------------------

#ifdef __linux__
// A small file system of its own at path (a tmpfs of 1 MiB) while it lives; mounting needs the
// right to, which a test run as root in a container has.
class SmallDisk {
  public:
    explicit SmallDisk(const std::string& path) : path_(path) {
        std::filesystem::create_directories(path);
        mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    // Fills it so that about bytes stay free.
    void LeaveFree(std::uintmax_t bytes) {
        std::uintmax_t free = std::filesystem::space(path_).available;
        ASSERT_GT(free, bytes);
        WriteWholeFile((path_ + "/filler").c_str(), std::string(free - bytes, 'x'));
    }
    void Empty() { std::filesystem::remove(path_ + "/filler"); }

  private:
    std::string path_;
    bool mounted_ = false;
};
#endif

// 800 items, all changed: each scale's journal takes the new lines, then the image is written
// whole beside the old one, and .pending names the 800 records; room for the images alone is
// not enough.
TEST_F(StateJournal, ARunWithoutRoomForItsJournalsAndPendingReadsNothing) {
#ifndef __linux__
    GTEST_SKIP() << "a small tmpfs is Linux's";
#else
    SmallDisk disk("state");
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root (CAP_SYS_ADMIN)";
    std::vector<std::string> before = Items(800);
    ASSERT_EQ(Run(before).stateError, "");
    std::vector<std::string> today = Items(800, "Today");
    std::uintmax_t image = WriteImage(ImageOf(WantedOfDataLines(1, false, today))).size();
    // Room for the three new images and some more, not for everything the run writes.
    disk.LeaveFree(3 * image + 16 * 1024);
    SyncResult full = Run(today);
    EXPECT_NE(full.error.find("KiB free; this run may write about"), std::string::npos)
        << full.error << full.stateError;
    EXPECT_EQ(full.stateError, "");
    for (std::size_t i = 0; i < 3; ++i) {
        // Held reads items 1 to 60.
        EXPECT_EQ(Held(i), ImageOf(WantedOfDataLines(1, false, Items(60)))) << "nothing was sent";
    }
    EXPECT_FALSE(std::filesystem::exists("state/.pending"));
    disk.Empty();
    SyncResult room = Run(today);
    EXPECT_EQ(room.error, "");
    EXPECT_EQ(room.stateError, "");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(State(i), ImageOf(WantedOfDataLines(1, false, today))) << i;
    }
#endif
}

// With 40 KiB free the run is refused for the room it lacks, not for the trial file.
TEST_F(StateJournal, AFullDiskIsToldByItsFreeSpaceAndWhatIsNeeded) {
#ifndef __linux__
    GTEST_SKIP() << "a small tmpfs is Linux's";
#else
    SmallDisk disk("state");
    if (!disk.Mounted()) GTEST_SKIP() << "mounting a tmpfs needs root (CAP_SYS_ADMIN)";
    disk.LeaveFree(40 * 1024);
    SyncResult full = Run(Items(800));
    EXPECT_EQ(full.error.find("No space left"), std::string::npos) << full.error;
    EXPECT_NE(full.error.find(" KiB free; this run may write about "), std::string::npos)
        << full.error;
    EXPECT_NE(full.error.find("nothing was read or sent"), std::string::npos) << full.error;
    EXPECT_TRUE(Held(0).empty());
#endif
}

TEST_F(StateJournal, OnlyARunThatEndsWithEveryScaleInStepIsRecorded) {
    EXPECT_EQ(LastGoodSync("state"), 0);
    SyncResult good = Run(Items(5));
    EXPECT_GT(good.lastGoodSync, 1700000000);
    EXPECT_EQ(LastGoodSync("state"), good.lastGoodSync);
    WriteWholeFile("state/.last-good", "1000\n");
    // A scale that is off: the record stays that of the last good run.
    std::vector<std::string> off = {"127.0.0.1:1"};
    SyncOptions options;
    options.stateDir = "state";
    options.listTypes = {1};
    options.settings.tries = 1;
    SyncResult failed = Sync(WantedOfDataLines(1, false, Items(5)), off, options);
    EXPECT_EQ(failed.scales[0].status, SyncStatus::kFailed);
    EXPECT_EQ(failed.lastGoodSync, 1000);
    EXPECT_EQ(LastGoodSync("state"), 1000);
    SyncResult dry = Run(Items(6), [](SyncOptions& dryRun) { dryRun.dryRun = true; });
    EXPECT_EQ(LastGoodSync("state"), 1000) << "a dry run syncs nothing";
    for (const char* torn : {"", "17", "12a\n", "\n"}) {
        WriteWholeFile("state/.last-good", torn);
        EXPECT_EQ(LastGoodSync("state"), 0) << torn;
    }
    EXPECT_GT(Run(Items(5)).lastGoodSync, 1700000000);
}

TEST_F(StateJournal, ARefusedScaleSaysWhatItsPlanRemovesAndTheCap) {
    Run(Items(20));
    SyncResult refused = Run(Items(2), [](SyncOptions& options) {
        options.maxRemove = {RemovalCap::kCount, 5};
    });
    for (const ScaleSync& scale : refused.scales) {
        EXPECT_EQ(scale.status, SyncStatus::kRefusedCap);
        EXPECT_EQ(scale.failure,
                  "its plan removes 18 record(s), more than its removal cap of 5 allows; "
                  "nothing sent");
    }
}

}  // namespace
}  // namespace vudaduv::fleet
