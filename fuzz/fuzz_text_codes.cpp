// Both text encodings on any text, and both decodings on any digit string.
#include <string>

#include "fuzz_driver.h"
#include "textcode/code_page_text.h"
#include "vudaduv_codec.h"

namespace {

std::size_t CharacterCount(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i, ++count) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) ++i;
    }
    return count;
}

bool AllDigits(const std::string& s) {
    return s.find_first_not_of("0123456789") == s.npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string zonePosition = vudaduv::EncodeZonePositionText(input);
    FuzzCheck(zonePosition.size() == 4 * CharacterCount(input), "four digits per character");
    FuzzCheck(AllDigits(zonePosition), "zone-position text is digits only");
    std::string codePage = vudaduv::EncodeCodePageText(input);
    FuzzCheck(codePage.size() % 3 == 0 && AllDigits(codePage), "code-page text is digit groups");
    FuzzCheck(vudaduv::DecodeCodePageText(codePage).size() <= input.size(),
              "code-page text loses characters, never adds");
    vudaduv::DecodeZonePositionText(input);
    vudaduv::DecodeCodePageText(input);
    return 0;
}
