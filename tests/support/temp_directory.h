// A fresh temporary directory per test, made the current directory for the test's lifetime, so
// that tests which touch "Rec.txt" can run side by side. Portable: std::filesystem only.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vudaduv::testing {

// Creates a directory of its own under the system's temporary directory and enters it; on
// destruction goes back to where it was and removes the directory with everything in it.
class TempDirectory {
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

// A test fixture that runs each test inside a TempDirectory.
class InTempDirectory : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path& directory() const { return directory_->Path(); }

  private:
    std::optional<TempDirectory> directory_;
};

bool FileExists(const char* path);
// The whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const char* path);
void WriteWholeFile(const char* path, const std::string& bytes);
// The names in a directory, sorted: a write that failed must leave no file of its own behind.
std::vector<std::string> DirectoryNames(const char* path = ".");

}  // namespace vudaduv::testing
