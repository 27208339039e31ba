// Throughput of the codec on realistic batches: a full item table out, a full reply file back.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "send/command_list.h"
#include "textcode/code_page_text.h"
#include "upload/upload.h"
#include "vudaduv_codec.h"

namespace {

constexpr int kItems = 4001;  // every item slot of a scale

std::vector<std::string> ItemLines() {
    std::vector<std::string> lines;
    for (int i = 0; i < kItems; ++i) {
        lines.push_back(std::to_string(i) + "A0012345000150##\xB0\xA1\xB0\xA2\xB0\xA3 apple " +
                        std::to_string(i) + "##\xCB\xAE\xB9\xFB##Fresh");
    }
    return lines;
}

void BM_BuildCommandListItems(benchmark::State& state) {
    std::vector<std::string> lines = ItemLines();
    std::vector<const char*> pointers;
    for (const std::string& line : lines) pointers.push_back(line.c_str());
    WQStringList list{pointers.data(), static_cast<uint32_t>(pointers.size())};
    for (auto _ : state) {
        benchmark::DoNotOptimize(vudaduv::BuildCommandList(1, list, state.range(0) != 0));
    }
    state.SetItemsProcessed(state.iterations() * kItems);
}
BENCHMARK(BM_BuildCommandListItems)->Arg(0)->Arg(1);

std::string ItemReplyFile() {
    std::string file;
    for (int i = 0; i < kItems; ++i) {
        file += "0u" + std::to_string(10000 + i).substr(1) +
                "A0012345000150B160116021603030003330336C3871D0366E\r\n0v\r\n";
    }
    return file;
}

void BM_ConvertUploadTextItems(benchmark::State& state) {
    std::string file = ItemReplyFile();
    for (auto _ : state) benchmark::DoNotOptimize(vudaduv::ConvertUploadText(file, false));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_ConvertUploadTextItems);

void BM_ZonePositionRoundTrip(benchmark::State& state) {
    std::string text(1200, '\0');
    for (std::size_t i = 0; i < text.size(); i += 2) {
        text[i] = static_cast<char>(0xB0 + i % 40);
        text[i + 1] = static_cast<char>(0xA1 + i % 90);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            vudaduv::DecodeZonePositionText(vudaduv::EncodeZonePositionText(text)));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ZonePositionRoundTrip);

void BM_CodePageRoundTrip(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < 100; ++i) text += "Price \xA1\xE3\xA9\xA6\xA6\xC1 ok";
    for (auto _ : state) {
        benchmark::DoNotOptimize(vudaduv::DecodeCodePageText(vudaduv::EncodeCodePageText(text)));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_CodePageRoundTrip);

}  // namespace

BENCHMARK_MAIN();
