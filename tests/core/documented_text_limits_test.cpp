// The text limits as the tool's page (docs/tool.md) and the manual page tell them, made from the
// codec's own limits: a limit changed in the codec fails here until the words follow.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "vudaduv_codec.h"

namespace vudaduv {
namespace {

std::string SourceFile(const std::string& name) {
    std::ifstream in(std::string(VUDADUV_SOURCE_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(DocumentedTextLimits, ReadmeAndManualTellTheCodecsLimits) {
    const std::string sentences[] = {
        "each item text (type 1): " +
            std::to_string(kItemCodeDigits / kZonePositionTerminator.size()) +
            " characters of zone-position text, " +
            std::to_string(kItemCodeDigits / kCodePageTerminator.size()) + " of code-page text;",
        "the message text (types 3 and 5): " + std::to_string(kMessageTextCharacters) +
            " characters in either text mode;",
        "messages above " + std::to_string(kMessage3CodePageAbove) + " (type 3) and " +
            std::to_string(kMessage5CodePageAbove) +
            " (type 5) are code-page text whatever the mode;",
        "the key table (type 12): exactly " + std::to_string(kKeyTableBytes) + " bytes.",
    };
    for (const char* file : {"docs/tool.md", "docs/vudaduv.1.in"}) {
        std::string text = SourceFile(file);
#ifdef _WIN32
        if (text.empty()) GTEST_SKIP() << "the sources are not reachable from here";
#endif
        ASSERT_FALSE(text.empty()) << file;
        for (const std::string& sentence : sentences) {
            EXPECT_NE(text.find(sentence), std::string::npos) << file << " lacks: " << sentence;
        }
    }
}

}  // namespace
}  // namespace vudaduv
