// The shipped libraries end to end: the six exports with the real transports against the
// virtual scale over loopback sockets (and a pseudo-terminal where there is one). What goes down
// comes back as upload lines equal to the data lines sent.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "scripted_peer.h"
#include "temp_directory.h"
#include "virtual_scale.h"
#include "vudaduv.h"

#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace vudaduv::testing {
namespace {

// A string list whose pointers stay valid as long as the object.
class Strings {
  public:
    Strings(std::vector<std::string> strings) : strings_(std::move(strings)) {
        for (const std::string& s : strings_) pointers_.push_back(s.c_str());
    }
    WQStringList View() const {
        return {pointers_.data(), static_cast<uint32_t>(pointers_.size())};
    }

  private:
    std::vector<std::string> strings_;
    std::vector<const char*> pointers_;
};

// Short time-outs and one retry, so that a dead scale costs little.
const std::vector<uint32_t> kQuickSettings = {1000, 1000, 1};

enum class Road { kTcp, kTcpOwnRecord };

int32_t Send(Road road, bool en, uint32_t recordType, const std::vector<std::string>& targets,
             const std::vector<std::string>& lines) {
    Strings targetList(targets);
    Strings lineList(lines);
    if (road == Road::kTcp) {
        WQTCP request{targetList.View(), lineList.View(), recordType};
        return en ? WQTCPSendEn(&request) : WQTCPSend(&request);
    }
    WQST request{targetList.View(),
                 lineList.View(),
                 {kQuickSettings.data(), static_cast<uint32_t>(kQuickSettings.size())},
                 recordType};
    return en ? WQTCPSendSTEn(&request) : WQTCPSendST(&request);
}

std::string UploadLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

std::string KeyTable() {
    std::string table;
    for (int key = 0; table.size() < 568; ++key) table += std::to_string(1000 + key % 9000);
    return table.substr(0, 568);
}

// A download, the read requests for it, and the upload lines they must give.
struct RoundTrip {
    const char* name;
    uint32_t download;
    uint32_t read;
    bool en;
    std::vector<std::string> lines;
    std::vector<std::string> reads;
    std::vector<std::string> uploads;
};

const std::vector<RoundTrip>& RoundTrips() {
    static const std::vector<RoundTrip> trips = {
        {"ItemsChinese",
         1,
         2,
         false,
         {"0012A0100000599##\xC6\xBB\xB9\xFB##Apple##\xBA\xEC\xB8\xBB\xCA\xBF", "0013A02##x"},
         {"12", "13"},
         {"1P0012A0100000599##\xC6\xBB\xB9\xFB##Apple##\xBA\xEC\xB8\xBB\xCA\xBF", "1P0013A02##x"}},
        {"ItemsCodePage",
         1,
         2,
         true,
         {"0014A01##Keep at 4\xA1\xE3"
          "C##\xA3\xA4"
          "4.99"},
         {"14"},
         {"1P0014A01##Keep at 4\xA1\xE3"
          "C##\xA3\xA4"
          "4.99"}},
        {"MessagesType3",
         3,
         4,
         false,
         {"01A\xBB\xB6\xD3\xAD", "11AThanks"},
         {"1", "11"},
         {"3P01A\xBB\xB6\xD3\xAD", "3P11AThanks"}},
        {"MessagesType3CodePage", 3, 4, true, {"02AFresh!"}, {"2"}, {"3P02AFresh!"}},
        {"MessagesType5",
         5,
         6,
         false,
         {"03A\xBD\xF1\xC8\xD5", "17ASee you"},
         {"3", "17"},
         {"5P03A\xBD\xF1\xC8\xD5", "5P17ASee you"}},
        {"MessagesType5CodePage",
         5,
         6,
         true,
         {"04A\xA6\xC1-\xA6\xC2"},
         {"4"},
         {"5P04A\xA6\xC1-\xA6\xC2"}},
        {"FreeData", 7, 8, false, {"PLU-sync:7"}, {}, {"7PPLU-sync:7"}},
        {"FreeDataEn", 7, 8, true, {"PLU-sync:8"}, {}, {"7PPLU-sync:8"}},
        {"Labels",
         10,
         11,
         false,
         {"01A\xCF\xCA\xB9\xFB"
          "B\xD0\xBB\xD0\xBB",
          "15AOpenBDaily"},
         {"1", "15"},
         {"10P01A\xCF\xCA\xB9\xFB"
          "B\xD0\xBB\xD0\xBB",
          "10P15AOpenBDaily"}},
        {"LabelsEn", 10, 11, true, {"02AxBy"}, {"2"}, {"10P02AxBy"}},
        {"KeyTable", 12, 13, false, {KeyTable()}, {}, {"12P" + KeyTable()}},
        {"KeyTableEn", 12, 13, true, {KeyTable()}, {}, {"12P" + KeyTable()}},
    };
    return trips;
}

class LibraryRoundTrip : public InTempDirectory {
  protected:
    void SetUp() override {
        InTempDirectory::SetUp();
        std::string error;
        ASSERT_TRUE(server_.Start(error)) << error;
        ASSERT_TRUE(codePageServer_.Start(error)) << error;
    }

    std::string Address() const { return "127.0.0.1:" + std::to_string(server_.Port()); }

    // A scale of each text mode: the plain exports talk to one, the En exports to the other.
    std::string AddressFor(bool en) const {
        return "127.0.0.1:" + std::to_string(en ? codePageServer_.Port() : server_.Port());
    }

    scale::ScaleMemory memory_;
    scale::TcpScaleServer server_{memory_, scale::ServerOptions{}};
    scale::ScaleMemory codePageMemory_{scale::TextMode::kCodePage};
    scale::TcpScaleServer codePageServer_{codePageMemory_, scale::ServerOptions{}};
};

TEST_F(LibraryRoundTrip, EveryRecordTypeComesBackAsSentThroughEveryNetworkExport) {
    for (Road road : {Road::kTcp, Road::kTcpOwnRecord}) {
        for (const RoundTrip& trip : RoundTrips()) {
            SCOPED_TRACE(trip.name);
            std::string address = AddressFor(trip.en);
            ASSERT_EQ(Send(road, trip.en, trip.download, {address}, trip.lines), WQ_OK);
            EXPECT_EQ(ReadWholeFile("Rec.txt"), "") << "acknowledgements leave no upload line";
            ASSERT_EQ(Send(road, trip.en, trip.read, {address}, trip.reads), WQ_OK);
            EXPECT_EQ(ReadWholeFile("Rec.txt"), UploadLines(trip.uploads));
            std::remove("Rec.txt");
        }
    }
}

TEST_F(LibraryRoundTrip, ReadOfAnEmptySlotGivesNoUploadLine) {
    ASSERT_EQ(Send(Road::kTcp, false, 2, {Address()}, {"3999"}), WQ_OK);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "");
}

TEST_F(LibraryRoundTrip, UploadLinesAlreadyInTheFileSurviveASend) {
    WriteWholeFile("Rec.txt", "1P0001A##kept\r\n");
    ASSERT_EQ(Send(Road::kTcp, false, 1, {Address()}, {"2A##new"}), WQ_OK);
    ASSERT_EQ(Send(Road::kTcp, false, 2, {Address()}, {"2"}), WQ_OK);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "1P0001A##kept\r\n1P0002A##new\r\n");
}

TEST_F(LibraryRoundTrip, SeveralScalesAtOnceEachAnswerInTheOrderOfTargets) {
    scale::ScaleMemory secondMemory;
    scale::TcpScaleServer second(secondMemory, scale::ServerOptions{});
    std::string error;
    ASSERT_TRUE(second.Start(error)) << error;
    std::vector<std::string> targets = {Address(), "127.0.0.1:" + std::to_string(second.Port())};

    ASSERT_EQ(Send(Road::kTcp, false, 3, {targets[0]}, {"5Afirst"}), WQ_OK);
    ASSERT_EQ(Send(Road::kTcp, false, 3, {targets[1]}, {"5Asecond"}), WQ_OK);
    ASSERT_EQ(Send(Road::kTcp, false, 4, targets, {"5"}), WQ_OK);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "3P05Afirst\r\n3P05Asecond\r\n");
}

TEST_F(LibraryRoundTrip, ADeadScaleFailsTheSendButTheLiveOneIsServed) {
    // A port held bound and not listening: a port merely freed again can be taken by the scales
    // of a test running beside, and answer.
    transport_test::RefusingPort dead;
    std::string deadAddress = "127.0.0.1:" + std::to_string(dead.Port());

    ASSERT_EQ(Send(Road::kTcpOwnRecord, false, 1, {deadAddress, Address()}, {"7A##live"}),
              WQ_TRANSPORT_FAILED);
    ASSERT_EQ(Send(Road::kTcpOwnRecord, false, 2, {Address(), deadAddress}, {"7"}),
              WQ_TRANSPORT_FAILED);
    EXPECT_EQ(ReadWholeFile("Rec.txt"), "1P0007A##live\r\n");
}

#ifndef _WIN32
// The serial exports over a pseudo-terminal, configured raw as an application would.
TEST(LibraryOverSerialLine, ItemsAndMessagesComeBackAsSent) {
    TempDirectory directory;
    scale::ScaleMemory memory;
    scale::PtyScaleServer server(memory);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    int line = open(server.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(line, 0);
    termios settings{};
    ASSERT_EQ(tcgetattr(line, &settings), 0);
    cfmakeraw(&settings);
    ASSERT_EQ(tcsetattr(line, TCSANOW, &settings), 0);

    for (bool en : {false, true}) {
        Strings download({"0021A01##" + std::string(en ? "Pear" : "\xC0\xE6")});
        Strings read({"21"});
        WQCOMM downloadRequest{static_cast<uint32_t>(line), download.View(), 1};
        WQCOMM readRequest{static_cast<uint32_t>(line), read.View(), 2};
        ASSERT_EQ(en ? WQCOMMSendEn(&downloadRequest) : WQCOMMSend(&downloadRequest), WQ_OK);
        ASSERT_EQ(en ? WQCOMMSendEn(&readRequest) : WQCOMMSend(&readRequest), WQ_OK);
        EXPECT_EQ(ReadWholeFile("Rec.txt"),
                  "1P0021A01##" + std::string(en ? "Pear" : "\xC0\xE6") + "\r\n");
        std::remove("Rec.txt");
    }
    close(line);
}
#endif

}  // namespace
}  // namespace vudaduv::testing
