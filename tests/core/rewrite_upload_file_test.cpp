// The rewrite of "Rec.txt" on real files, each test in a directory of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "temp_directory.h"
#include "unwritable_upload_file.h"
#include "upload/upload.h"

namespace vudaduv {
namespace {

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

TEST_F(RewriteUploadFileTest, UnwritableFileFailsOnlyWhenThereIsOutput) {
    testing::UnwritableUploadFile unwritable;
    if (!unwritable.Make()) GTEST_SKIP() << "no unwritable file on this system";
    ASSERT_FALSE(ReadWholeFile("Rec.txt").empty());
    EXPECT_FALSE(RewriteUploadFile(false));
}

TEST_F(RewriteUploadFileTest, UnwritableFileWithNothingToWriteIsNoFailure) {
    // A directory in the file's place: nothing can be read from it, nothing written to it.
    std::filesystem::create_directory("Rec.txt");
    EXPECT_TRUE(RewriteUploadFile(false));
    EXPECT_TRUE(RewriteUploadFile(true));
}

}  // namespace
}  // namespace vudaduv
