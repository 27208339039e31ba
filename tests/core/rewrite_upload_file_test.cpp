// The rewrite of "Rec.txt" on real files, each test in a directory of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "temp_directory.h"
#include "unwritable_upload_file.h"
#include "upload/upload.h"

namespace vudaduv {
namespace {

using testing::DirectoryNames;
using testing::FileExists;
using testing::InTempDirectory;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

class RewriteUploadFileTest : public InTempDirectory {};

TEST_F(RewriteUploadFileTest, MissingFileEndsAsAnEmptyFile) {
    for (bool en : {false, true}) {
        std::filesystem::remove("Rec.txt");
        EXPECT_TRUE(RewriteUploadFile(en));
        ASSERT_TRUE(FileExists("Rec.txt"));
        EXPECT_EQ(std::filesystem::file_size("Rec.txt"), 0u);
    }
}

TEST_F(RewriteUploadFileTest, FilesWithoutUploadLinesEndEmpty) {
    for (const char* replies :
         {"", " \t\r\n\v\f\r\n", "0v\r\n0x\r\n0fU0012\r\n", "0s01Aa000\r\n"}) {
        WriteWholeFile("Rec.txt", replies);
        EXPECT_TRUE(RewriteUploadFile(false));
        ASSERT_TRUE(FileExists("Rec.txt"));
        EXPECT_EQ(std::filesystem::file_size("Rec.txt"), 0u) << replies;
    }
}

TEST_F(RewriteUploadFileTest, RepliesBecomeUploadLines) {
    WriteWholeFile("Rec.txt",
                   "0v\r\n0u0012AxB03650366CDE\r\n0s03Ax123\n0w05A03720373B\r0q03Ayz456\r\n"
                   "0eMALFORMED\r\n0k00AaaaaB 0k01AbbbbB\t0k02AccccB\n0k03Adddd00000000B\r\n"
                   "0nhelloE");
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_EQ(ReadWholeFile("Rec.txt"),
              "1P0012Ax##ab\r\n3P05Ahi\r\n10P03AxByz\r\n0eMALFORMED\r\n12Paaaabbbbccccdddd\r\n"
              "7Phello\r\n");
}

TEST_F(RewriteUploadFileTest, EnFlagDecodesCodePageText) {
    WriteWholeFile("Rec.txt", "0u0012AxB097098C179DE\r\n0y05A104105B\r\n");
    EXPECT_TRUE(RewriteUploadFile(true));
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "1P0012Ax##ab##\xA9\xA6\r\n5P05Ahi\r\n");
}

TEST_F(RewriteUploadFileTest, FileIsReadAsBytes) {
    const std::string replies(
        "0nA\0\x1A"
        "B\r\nE\r\n\x1A"
        "0eX\r\n",
        17);
    WriteWholeFile("Rec.txt", replies);
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_EQ(ReadWholeFile("Rec.txt"), std::string("7PA\0\x1A\r\nE\r\n\x1A"
                                                    "0eX\r\n",
                                                    16));
}

TEST_F(RewriteUploadFileTest, SecondRewriteChangesNothing) {
    WriteWholeFile("Rec.txt", "0u0012AxB03650366CDE\n0s03Ax123\n0q03Ayz456\n0eX");
    ASSERT_TRUE(RewriteUploadFile(false));
    const std::string once = ReadWholeFile("Rec.txt");
    ASSERT_TRUE(RewriteUploadFile(false));
    EXPECT_EQ(ReadWholeFile("Rec.txt"), once);
    EXPECT_EQ(once, "1P0012Ax##ab\r\n10P03AxByz\r\n0eX\r\n");
}

TEST_F(RewriteUploadFileTest, LargeFileOfManyTokens) {
    std::string replies;
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        replies += "0nrecord" + std::to_string(i) + "E\r\n0o\r\n";
        expected += "7Precord" + std::to_string(i) + "\r\n";
    }
    WriteWholeFile("Rec.txt", replies);
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_EQ(ReadWholeFile("Rec.txt"), expected);
}

// More upload text than the rewrite writes in one piece, with groups, decoded replies and earlier
// upload lines in every stretch of it: the file ends as the lines in the order of the replies.
TEST_F(RewriteUploadFileTest, LargeMixedFileComesOutWholeAndInOrder) {
    std::string replies;
    std::string expected;
    for (int i = 0; expected.size() < 3000000; ++i) {
        const std::string n = std::to_string(10 + i % 90);
        replies += "0s" + n + "Aleft000\r\n0u" + n + "A01B03650366C0v\t0n" + std::to_string(i) +
                   "E\r\n0q" + n + "Aright000 0x\r\n1P" + n + "A02##kept line \r\n";
        expected += "1P" + n + "A01##ab\r\n7P" + std::to_string(i) + "\r\n10P" + n +
                    "AleftBright\r\n1P" + n + "A02##kept line\r\n";
        if (i % 7 == 0) {
            replies += "0k00AaaaaaaaaaB\r\n0k01AbB 0k02AcB\r\n0k03Ad12345678B\r\n";
            expected += "12Paaaaaaaaabcd\r\n";
        }
    }
    WriteWholeFile("Rec.txt", replies);
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_TRUE(ReadWholeFile("Rec.txt") == expected);
}

TEST_F(RewriteUploadFileTest, UnwritableFileFailsOnlyWhenThereIsOutput) {
    testing::UnwritableUploadFile unwritable;
    if (!unwritable.Make()) GTEST_SKIP() << "no unwritable file on this system";
    const std::string before = ReadWholeFile("Rec.txt");
    ASSERT_FALSE(before.empty());
    EXPECT_FALSE(RewriteUploadFile(false));
    EXPECT_EQ(ReadWholeFile("Rec.txt"), before);
    EXPECT_EQ(DirectoryNames(), std::vector<std::string>{"Rec.txt"});
}

// A disk that fills up part-way through the rewrite: "Rec.txt" is replaced whole or not at all.
TEST_F(RewriteUploadFileTest, FullDiskLeavesTheFileAsItWas) {
    std::string replies = "1P0001Aan earlier line\r\n";
    for (int i = 1000; i < 4000; ++i) replies += "0u" + std::to_string(i) + "AxB03650366CDE\r\n";
    const std::string upload = ConvertUploadText(replies, false);
    const struct {
        std::uint64_t limit;
        bool fits;
    } cases[] = {{0, false},
                 {1, false},
                 {upload.size() / 2, false},
                 {upload.size() - 1, false},
                 {upload.size(), true}};
    for (const auto& c : cases) {
        WriteWholeFile("Rec.txt", replies);
        testing::FileSizeLimit full;
        if (!full.Set(c.limit)) GTEST_SKIP() << "no file size limit on this system";
        EXPECT_EQ(RewriteUploadFile(false), c.fits) << c.limit;
        const std::string after = ReadWholeFile("Rec.txt");
        EXPECT_TRUE(after == (c.fits ? upload : replies)) << c.limit << ": " << after.size();
        EXPECT_EQ(DirectoryNames(), std::vector<std::string>{"Rec.txt"}) << c.limit;
    }
}

// The application may keep its file elsewhere and link to it: the file is rewritten there and
// the link stays.
TEST_F(RewriteUploadFileTest, LinkedFileIsRewrittenWhereTheLinkPoints) {
    std::filesystem::create_directory("kept");
    WriteWholeFile("kept/replies.txt", "0nxE\r\n");
    std::error_code error;
    std::filesystem::create_symlink("kept/replies.txt", "Rec.txt", error);
    if (error) GTEST_SKIP() << "no symbolic links on this system";
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_TRUE(std::filesystem::is_symlink("Rec.txt"));
    EXPECT_EQ(ReadWholeFile("kept/replies.txt"), "7Px\r\n");
    EXPECT_EQ(DirectoryNames("kept"), std::vector<std::string>{"replies.txt"});
}

TEST_F(RewriteUploadFileTest, UnwritableFileWithNothingToWriteIsNoFailure) {
    // A directory in the file's place: nothing can be read from it, nothing written to it.
    std::filesystem::create_directory("Rec.txt");
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_TRUE(RewriteUploadFile(true));
}

}  // namespace
}  // namespace vudaduv
