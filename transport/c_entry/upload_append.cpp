#include "c_entry/upload_append.h"

#include <fstream>

#include "platform/platform.h"

namespace vudaduv::transport {

namespace {

constexpr const char* kUploadFileName = "Rec.txt";

// False only when the file holds bytes after its last line end: an application that wrote or
// edited "Rec.txt" by hand may leave its last line open, and the first reply must not be glued
// onto it.
bool EndsInLineEnd(const char* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file || !file.seekg(-1, std::ios::end)) return true;  // missing or empty
    char last = 0;
    if (!file.get(last)) return true;
    return last == '\n' || last == '\r';
}

// Every reply of every list, in one append, the bytes sized once.
bool AppendReplyLists(const std::vector<const std::vector<std::string>*>& lists) {
    std::string bytes = EndsInLineEnd(kUploadFileName) ? "" : "\r\n";
    std::size_t size = bytes.size();
    for (const std::vector<std::string>* replies : lists) {
        for (const std::string& reply : *replies) size += reply.size() + 2;
    }
    bytes.reserve(size);
    for (const std::vector<std::string>* replies : lists) {
        for (const std::string& reply : *replies) {
            bytes += reply;
            bytes += "\r\n";
        }
    }
    return platform::AppendFileBytes(kUploadFileName, bytes);
}

}  // namespace

bool AppendRepliesToUploadFile(const std::vector<std::string>& replies) {
    return AppendReplyLists({&replies});
}

bool AppendRepliesToUploadFile(const std::vector<ScaleResult>& outcomes) {
    std::vector<const std::vector<std::string>*> lists;
    lists.reserve(outcomes.size());
    for (const ScaleResult& outcome : outcomes) lists.push_back(&outcome.replies);
    return AppendReplyLists(lists);
}

}  // namespace vudaduv::transport
