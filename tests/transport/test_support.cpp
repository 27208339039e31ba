#include "test_support.h"

#include <filesystem>

#include "scripted_peer.h"

namespace transport_test {

namespace {
constexpr const char* kUploadFileName = "Rec.txt";
}

bool UploadFileExists() {
    return vudaduv::testing::FileExists(kUploadFileName);
}

std::string ReadUploadFile() {
    return vudaduv::testing::ReadWholeFile(kUploadFileName);
}

void WriteUploadFile(const std::string& bytes) {
    vudaduv::testing::WriteWholeFile(kUploadFileName, bytes);
}

void RemoveUploadFile() {
    std::error_code ignored;
    std::filesystem::remove(kUploadFileName, ignored);
}

StringList::StringList(std::vector<std::string> strings) : strings_(std::move(strings)) {
    for (const std::string& s : strings_) pointers_.push_back(s.c_str());
}

WQStringList StringList::View() const {
    return WQStringList{pointers_.empty() ? nullptr : pointers_.data(),
                        static_cast<std::uint32_t>(pointers_.size())};
}

std::vector<std::string> CommandLines(std::size_t n) {
    std::vector<std::string> commands;
    for (std::size_t i = 0; i < n; ++i) {
        std::string number = std::to_string(i);
        commands.push_back("!0U" + std::string(4 - number.size(), '0') + number + "A\r\n");
    }
    return commands;
}

std::vector<std::string> WithoutLineEnds(const std::vector<std::string>& commands) {
    std::vector<std::string> stripped;
    for (const std::string& command : commands) {
        stripped.push_back(command.substr(0, command.find_first_of("\r\n")));
    }
    return stripped;
}

std::string UploadLinesFor(const std::vector<std::string>& commands, const std::string& tag) {
    std::string lines;
    for (const std::string& command : commands) lines += ScaleReply(command) + tag + "\r\n";
    return lines;
}

const std::vector<Arrival> kArrivals = {
    {"whole, CR LF", Delivery::kWhole, false, "\r\n"},
    {"byte by byte, CR LF", Delivery::kByteByByte, false, "\r\n"},
    {"whole, LF", Delivery::kWhole, false, "\n"},
    {"byte by byte, LF", Delivery::kByteByByte, false, "\n"},
    {"one burst, CR LF", Delivery::kWhole, true, "\r\n"},
    {"one burst, LF", Delivery::kWhole, true, "\n"},
};

PeerScript ArrivalScript(const Arrival& arrival, const std::vector<std::string>& commands) {
    std::string lineEnd = arrival.lineEnd;
    if (!arrival.burst) {
        return [lineEnd](const PeerEvent& event) {
            return PeerAnswer::Reply(ScaleReply(event.command) + lineEnd);
        };
    }
    std::string burst;
    for (const std::string& command : commands) burst += ScaleReply(command) + lineEnd;
    return [burst](const PeerEvent& event) {
        return event.received == 0 ? PeerAnswer::Reply(burst) : PeerAnswer::Silence();
    };
}

std::string LoopbackAddress(std::uint16_t port, bool ipv6) {
    return (ipv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port);
}

}  // namespace transport_test
