// A fresh temporary directory per test, made the current directory for the test's lifetime, so
// that tests which touch "Rec.txt" can run side by side.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vudaduv::testing {

class InTempDirectory : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& directory() const { return directory_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path directory_;
};

bool FileExists(const char* path);
// The whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const char* path);
void WriteWholeFile(const char* path, const std::string& bytes);

// Makes "Rec.txt" a file that can be read (it holds one token) but not created anew for
// writing, even by root: a link to a read-only kernel file. False when the system offers none.
bool MakeReadOnlyUploadFile();

}  // namespace vudaduv::testing
