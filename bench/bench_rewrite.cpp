// The rewrite of a large "Rec.txt" against `wc -w` on the same file, run by hand (Linux):
// bench_rewrite [--mb N]. It writes a realistic mix of replies and earlier upload lines to a
// temporary folder, times `wc -w` and the rewrite there, each best of three, and prints the
// rewrite's speed relative to `wc -w` and its peak memory relative to the file. The rewrite
// runs in a fresh process of this program, so that its peak memory is its own.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "upload/upload.h"
#include "vudaduv_codec.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;

std::string Digits(int value, int width) {
    std::string text = std::to_string(value);
    return std::string(width > static_cast<int>(text.size()) ? width - text.size() : 0, '0') + text;
}

// One round of what a shop's folder collects: item, message, label and key-table replies with
// their acknowledgements, and the upload lines that earlier sends left.
void AppendRound(std::string& file, int round) {
    const std::string item = Digits(round % 4000, 4);
    const std::string name = vudaduv::EncodeZonePositionText(
        "\xC6\xBB\xB9\xFB apple " + std::to_string(round) + "\xBA\xEC\xB8\xBB");
    file += "0u" + item + "A0100000599B" + name + "C" +
            vudaduv::EncodeZonePositionText("Fresh today") + "D" +
            vudaduv::EncodeZonePositionText("\xCB\xAE\xB9\xFB") + "E\r\n0v\r\n";
    file += "0w" + Digits(round % 10, 2) + "A" +
            vudaduv::EncodeZonePositionText("\xBB\xB6\xD3\xAD thanks") + "B\r\n0x\r\n";
    file += "0s" + Digits(round % 16, 2) + "A" + name + "xyz\r\n0q" + Digits(round % 16, 2) + "A" +
            name + "xyz\r\n0t\r\n0r\r\n";
    if (round % 8 == 0) {
        for (int quarter = 0; quarter < 4; ++quarter) {
            file += "0k" + Digits(quarter, 3) + std::string(144, static_cast<char>('1' + quarter)) +
                    "X\r\n";
        }
    }
    file += "1P" + item + "A0100000599##\xC6\xBB\xB9\xFB apple##Fresh\r\n";
    file += "3P" + Digits(round % 10, 2) + "AWelcome back\r\n";
}

void WriteMixedFile(const fs::path& path, std::size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    std::string piece;
    for (int round = 0; static_cast<std::size_t>(out.tellp()) < bytes; ++round) {
        AppendRound(piece, round);
        if (piece.size() > (1 << 20)) {
            out << piece;
            piece.clear();
        }
    }
    out << piece;
}

long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// In the fresh process: one rewrite in the current folder; prints seconds and peak growth in kB.
int RunRewrite() {
    long before = PeakKilobytes();
    Clock::time_point start = Clock::now();
    bool ok = vudaduv::RewriteUploadFile(false);
    double seconds = Seconds(Clock::now() - start);
    std::printf("%f %ld\n", seconds, PeakKilobytes() - before);
    return ok ? 0 : 1;
}

// Runs a command line, returns its wall time; its output goes to out.
double TimeCommand(const std::string& command, std::string& out) {
    Clock::time_point start = Clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[256];
    out.clear();
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    if (pclose(pipe) != 0) return -1;
    return Seconds(Clock::now() - start);
}

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--rewrite-here") == 0) return RunRewrite();
    std::size_t megabytes = 92;
    if (argc == 3 && std::strcmp(argv[1], "--mb") == 0)
        megabytes = std::strtoul(argv[2], nullptr, 10);

    fs::path folder = fs::temp_directory_path() / ("bench_rewrite." + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path source = folder / "replies.txt";
    const fs::path upload = folder / vudaduv::kUploadFileName;
    WriteMixedFile(source, megabytes * 1000000);
    const double fileBytes = static_cast<double>(fs::file_size(source));

    std::string out;
    double wcBest = 1e9;
    for (int run = 0; run < kRuns; ++run) {
        double t = TimeCommand("wc -w < " + Quoted(source.string()), out);
        if (t < 0) return 1;
        if (t < wcBest) wcBest = t;
    }
    std::string self = fs::canonical("/proc/self/exe").string();
    double rewriteBest = 1e9;
    long peakKilobytes = 0;
    for (int run = 0; run < kRuns; ++run) {
        fs::copy_file(source, upload, fs::copy_options::overwrite_existing);
        if (TimeCommand("cd " + Quoted(folder.string()) + " && " + Quoted(self) + " --rewrite-here",
                        out) < 0) {
            return 1;
        }
        double t = 0;
        long kb = 0;
        if (std::sscanf(out.c_str(), "%lf %ld", &t, &kb) != 2) return 1;
        if (t < rewriteBest) rewriteBest = t;
        if (kb > peakKilobytes) peakKilobytes = kb;
    }
    std::printf(
        "file %.1f MB, wc -w %.3f s, rewrite %.3f s, speed %.2fx of wc -w, peak memory "
        "%.1f MB = %.2fx the file, output %.1f MB\n",
        fileBytes / 1e6, wcBest, rewriteBest, wcBest / rewriteBest, peakKilobytes / 1e3,
        peakKilobytes * 1024.0 / fileBytes, static_cast<double>(fs::file_size(upload)) / 1e6);
    fs::remove_all(folder);
    return 0;
}
