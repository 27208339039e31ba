// What the transport tests share: a fresh working directory per test, "Rec.txt" access, and
// caller-side records built from C++ strings.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scripted_peer.h"
#include "temp_directory.h"
#include "vudaduv.h"

namespace transport_test {

// Runs each test in a fresh temporary directory of its own, where "Rec.txt" is private.
using InFreshDirectory = vudaduv::testing::InTempDirectory;

bool UploadFileExists();
std::string ReadUploadFile();
void WriteUploadFile(const std::string& bytes);
void RemoveUploadFile();

// A string list as a caller builds one; the strings live as long as the object.
class StringList {
  public:
    StringList(std::vector<std::string> strings = {});
    WQStringList View() const;

  private:
    std::vector<std::string> strings_;
    std::vector<const char*> pointers_;
};

// n command lines "!0U0000A" CR LF, "!0U0001A" CR LF, ...
std::vector<std::string> CommandLines(std::size_t n);

// The commands as a peer logs them, without CR LF.
std::vector<std::string> WithoutLineEnds(const std::vector<std::string>& commands);

// What "Rec.txt" gains when a peer answers commands with AnswerAll(tag).
std::string UploadLinesFor(const std::vector<std::string>& commands, const std::string& tag = "");

// Ways a scale's replies can come: whole or a byte at a time, CR LF or LF alone, each in turn
// or all of them in one burst after the first command.
struct Arrival {
    const char* name;
    Delivery delivery;
    bool burst;
    const char* lineEnd;
};
extern const std::vector<Arrival> kArrivals;

// A script that answers commands (the whole list that will come) as arrival says.
PeerScript ArrivalScript(const Arrival& arrival, const std::vector<std::string>& commands);

// "127.0.0.1:port" or "[::1]:port".
std::string LoopbackAddress(std::uint16_t port, bool ipv6 = false);

}  // namespace transport_test
