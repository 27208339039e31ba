// The upload rewrite on any reply file, both text modes. A decoded text may hold any byte, CR and
// LF too, so an upload line may span several lines of the file; what holds is the frame: the
// text is empty or ends with CR LF and begins with no white space, and a text whose lines hold
// no white space and none of them empty reads back unchanged when it is rewritten again.
#include <string>
#include <string_view>

#include "fuzz_driver.h"
#include "upload/upload.h"

namespace {

constexpr std::string_view kWhiteSpace = " \t\n\r\v\f";

// True when the text is lines of CR LF, none of them empty and none holding white space.
bool PlainLines(std::string_view text) {
    while (!text.empty()) {
        std::size_t end = text.find("\r\n");
        if (end == std::string_view::npos) return false;
        std::string_view line = text.substr(0, end);
        if (line.empty() || line.find_first_of(kWhiteSpace) != std::string_view::npos) return false;
        text.remove_prefix(end + 2);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string file(reinterpret_cast<const char*>(data), size);
    for (bool en : {false, true}) {
        std::string output = vudaduv::ConvertUploadText(file, en);
        FuzzCheck(output.empty() || output.compare(output.size() - 2, 2, "\r\n") == 0,
                  "upload text ends with CR LF");
        FuzzCheck(output.empty() || kWhiteSpace.find(output[0]) == std::string_view::npos,
                  "upload text begins with no white space");
        if (PlainLines(output)) {
            FuzzCheck(vudaduv::ConvertUploadText(output, en) == output,
                      "upload lines without white space are rewritten unchanged");
        }
    }
    return 0;
}
