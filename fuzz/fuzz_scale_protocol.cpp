// The virtual scale on any byte stream: the first input byte chooses how the stream is cut into
// chunks, the rest is the stream. Every line ended by LF gets exactly the reply that the scale
// gives that line alone, in order, with the state of the lines before it, however the stream is
// cut; an unended tail gets at most "0eTOOLONG".
#include <algorithm>
#include <random>
#include <string>
#include <string_view>

#include "fuzz_driver.h"
#include "scale_line_reader.h"
#include "virtual_scale.h"

using vudaduv::scale::CommandLineReader;
using vudaduv::scale::ScaleMemory;

namespace {

// The replies that line-at-a-time answers give, each with CR LF; tail is what follows the last LF.
std::string AnswersLineByLine(std::string_view stream, std::string_view& tail) {
    ScaleMemory memory;
    std::string replies;
    for (std::size_t lineFeed = stream.find('\n'); lineFeed != std::string_view::npos;
         lineFeed = stream.find('\n')) {
        std::string reply = memory.Answer(stream.substr(0, lineFeed));
        FuzzCheck(reply.size() >= 2 && reply[0] == '0', "a reply is \"0\" and a code");
        FuzzCheck(reply.find('\n') == std::string::npos, "a reply holds no LF");
        replies += reply + "\r\n";
        stream.remove_prefix(lineFeed + 1);
    }
    tail = stream;
    return replies;
}

std::string AnswersInChunks(std::string_view stream, unsigned seed) {
    ScaleMemory memory;
    CommandLineReader reader(memory);
    std::minstd_rand random(seed + 1);
    std::string replies;
    while (!stream.empty()) {
        std::size_t size = 1 + random() % (seed % 2 == 0 ? 16 : 9000);
        std::string_view chunk = stream.substr(0, size);
        replies += reader.Answers(chunk);
        stream.remove_prefix(chunk.size());
    }
    return replies;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    unsigned seed = input.Byte();
    std::string_view stream = input.Rest();

    std::string_view tail;
    std::string expected = AnswersLineByLine(stream, tail);

    ScaleMemory memory;
    CommandLineReader reader(memory);
    std::string whole = reader.Answers(stream);
    FuzzCheck(whole.compare(0, expected.size(), expected) == 0,
              "each ended line gets the reply the scale gives it alone");
    std::string rest = whole.substr(std::min(expected.size(), whole.size()));
    FuzzCheck(rest.empty() ||
                  (rest == "0eTOOLONG\r\n" && tail.size() > vudaduv::scale::kMaxCommandLineBytes),
              "an unended line gets no reply unless it is too long");
    FuzzCheck(AnswersInChunks(stream, seed) == whole, "chunks of any size give the same replies");
    return 0;
}
