// The record types as docs/c-library.md, the manual page and the Python binding tell them, held
// against the codec's table and its encoder: every example of the page encodes to the command
// lines it shows, every row of the manual names its type as the table does, and every method of the
// binding sends the type whose role its name says.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "vudaduv_codec.h"

namespace vudaduv {
namespace {

std::string SourceFile(const std::string& name) {
    std::ifstream in(std::string(VUDADUV_SOURCE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Under Wine the build machine's paths may not be reachable; there the check is left to Linux.
#ifdef _WIN32
#define SKIP_WITHOUT(text) \
    if ((text).empty()) GTEST_SKIP() << "the sources are not reachable from here"
#else
#define SKIP_WITHOUT(text) ASSERT_FALSE((text).empty())
#endif

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& commands) {
    std::string joined;
    for (const std::string& command : commands) {
        joined += (joined.empty() ? "`" : ", `") + command.substr(0, command.size() - 2) + "`";
    }
    return joined;
}

// "| 3 | `<number>A<text>`, messages 0..22 | `5Ahi` | `!0X05A037203730000B` |"
TEST(DocumentedRecordTypes, ReadmeExamplesEncodeAsShown) {
    const std::regex row(R"(^\| (\d+) \| (.*?) \| ?`?([^`|]*?)`? ?\| (.*) \|$)");
    std::set<uint32_t> rows;
    std::string readme = SourceFile("docs/c-library.md");
    SKIP_WITHOUT(readme);
    for (const std::string& line : Lines(readme)) {
        std::smatch match;
        if (!std::regex_match(line, match, row)) continue;
        uint32_t code = static_cast<uint32_t>(std::stoul(match[1]));
        if (code < 1 || code > kRecordTypeCount || match[4].str().find("!0") == std::string::npos) {
            continue;
        }
        rows.insert(code);
        const RecordType& type = RecordTypeOf(code);
        std::string shown = match[4];
        EXPECT_EQ(shown.rfind(std::string("`!0") + type.commands[0], 0), 0u) << line;
        if (type.numberMaximum > 0 && type.role == RecordRole::kStores && code != 1) {
            EXPECT_NE(match[2].str().find("0.." + std::to_string(type.numberMaximum)),
                      std::string::npos)
                << line;
        }
        // The clock's digits change and a key table is shown cut: the rest is shown whole.
        if (code == 9 || shown.find("...") != std::string::npos) continue;
        std::string plain = Joined(BuildCommandList(code, {match[3]}, false));
        std::size_t en = shown.find(" (with `En`: ");
        EXPECT_EQ(shown.substr(0, en), plain) << line;
        if (en != std::string::npos) {
            EXPECT_EQ(shown.substr(en),
                      " (with `En`: " + Joined(BuildCommandList(code, {match[3]}, true)) + ")")
                << line;
        }
    }
    EXPECT_EQ(rows.size(), kRecordTypeCount);
}

// "3	text message	\fInumber\fPA\fItext\fP (numbers 0..22)"
TEST(DocumentedRecordTypes, ManualPageNamesEveryTypeAsTheTable) {
    const std::regex row(R"(^(\d+)\t([^\t]+)\t(.*)$)");
    std::set<uint32_t> rows;
    std::string manual = SourceFile("docs/vudaduv.1.in");
    SKIP_WITHOUT(manual);
    for (const std::string& line : Lines(manual)) {
        std::smatch match;
        if (!std::regex_match(line, match, row)) continue;
        const RecordType& type = RecordTypeOf(static_cast<uint32_t>(std::stoul(match[1])));
        ASSERT_NE(type.code, 0u) << line;
        rows.insert(type.code);
        EXPECT_EQ(match[2].str(), type.name) << line;
        bool showsRange = match[3].str().find(" 0..") != std::string::npos;
        if (showsRange) {
            EXPECT_NE(match[3].str().find("0.." + std::to_string(type.numberMaximum) + ")"),
                      std::string::npos)
                << line;
        }
    }
    EXPECT_EQ(rows.size(), kRecordTypeCount);
}

// "    def read_items(self, numbers):" ... "        return self.send(2, ...)"
TEST(DocumentedRecordTypes, PythonMethodsSendTheTypeTheirNameSays) {
    const std::regex method(R"(^    def (download|read|set)_(\w+)\(self)");
    const std::regex send(R"(return self\.send\((\d+))");
    std::map<std::string, uint32_t> downloads;
    std::map<std::string, uint32_t> reads;
    std::string verb;
    std::string what;
    // The package's modules as one text; the scales' methods are in one of them.
    std::string binding;
    for (const char* module : {"__init__", "_native", "_exports", "_scales", "_fleet"}) {
        binding += SourceFile(std::string("bindings/python/vudaduv/") + module + ".py");
    }
    SKIP_WITHOUT(binding);
    for (const std::string& line : Lines(binding)) {
        std::smatch match;
        if (std::regex_search(line, match, method)) {
            verb = match[1];
            what = match[2];
        } else if (!verb.empty() && std::regex_search(line, match, send)) {
            uint32_t code = static_cast<uint32_t>(std::stoul(match[1]));
            (verb == "read" ? reads : downloads)[what] = code;
            if (verb == "set") {
                EXPECT_EQ(RecordTypeOf(code).role, RecordRole::kSetsClock) << what;
            }
            verb.clear();
        }
    }
    EXPECT_EQ(downloads.size() + reads.size(), kRecordTypeCount);
    for (const auto& [name, code] : reads) {
        ASSERT_TRUE(downloads.count(name)) << "read_" << name;
        EXPECT_EQ(RecordTypeOf(code).role, RecordRole::kReads) << name;
        EXPECT_EQ(RecordTypeOf(code).partner, downloads[name]) << name;
    }
    std::string prefixes;
    for (const RecordType& type : kRecordTypes) {
        if (*type.uploadPrefix == '\0') {
            continue;
        }
        prefixes += std::string(prefixes.empty() ? "" : ", ") + "b\"" + type.uploadPrefix + "\"";
    }
    // The upload lines' prefixes are the library's table alone: the package finds the lines a
    // call added after the library's own rewrite, and holds no copy of them.
    EXPECT_EQ(binding.find(prefixes), std::string::npos);
    EXPECT_EQ(binding.find("_UPLOAD_LINE_PREFIXES"), std::string::npos);
}

}  // namespace
}  // namespace vudaduv
