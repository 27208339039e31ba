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

// Makes "Rec.txt" a file that can be read (it holds one token) but not created anew for writing:
// a read-only file for an ordinary user; for root, who may write any file, a link to a kernel
// setting that cannot be changed. False when the system offers no such setting.
bool MakeReadOnlyUploadFile();

}  // namespace vudaduv::testing
