#include "browser.h"

#include <filesystem>
#include <vector>

#include "child_process.h"
#include "temp_directory.h"

namespace vudaduv::cli::test {

namespace {

using vudaduv::testing::ReadWholeFile;
using vudaduv::testing::WriteWholeFile;

constexpr int kBrowserBoundMs = 120000;  // a cold start on a busy machine takes seconds

std::string PageUrl(const std::string& page, const std::string& fragment) {
    std::string url = "file://" + std::filesystem::absolute(page).generic_string();
    return fragment.empty() ? url : url + "#" + fragment;
}

// Runs Chromium headless on the page with one more argument; its exit status.
int RunChromium(const std::string& what, const std::string& url, const std::string& outPath) {
    // Root (a container, CI) cannot use Chromium's sandbox; the page is our own file.
    std::vector<std::string> args = {
        "--headless",
        "--no-sandbox",
        "--disable-gpu",
        "--no-first-run",
        "--user-data-dir=" + std::filesystem::absolute(".chromium").string(),
        "--window-size=1100,700",
        what,
        url};
    WriteWholeFile(".browser-input", "");
    ProcessId process =
        StartProcess(ChromiumPath(), args, ".browser-input", outPath, ".browser-errors");
    return process == kNoProcess ? -1 : WaitForProcess(process, kBrowserBoundMs);
}

}  // namespace

std::string ChromiumPath() {
#ifdef _WIN32
    return "";
#else
    for (const char* path : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
        if (std::filesystem::exists(path)) return path;
    }
    return "";
#endif
}

std::string DumpDom(const std::string& page, const std::string& fragment) {
    if (RunChromium("--dump-dom", PageUrl(page, fragment), ".browser-dom") != 0) return "";
    return ReadWholeFile(".browser-dom");
}

bool Screenshot(const std::string& page, const std::string& png) {
    std::string path = std::filesystem::absolute(png).string();
    std::error_code missing;
    return RunChromium("--screenshot=" + path, PageUrl(page, ""), ".browser-output") == 0 &&
           std::filesystem::is_regular_file(path, missing) &&
           std::filesystem::file_size(path, missing) > 0;
}

bool PrintToPdf(const std::string& page, const std::string& pdf) {
    std::string path = std::filesystem::absolute(pdf).string();
    std::error_code missing;
    return RunChromium("--print-to-pdf=" + path, PageUrl(page, ""), ".browser-output") == 0 &&
           std::filesystem::is_regular_file(path, missing) &&
           std::filesystem::file_size(path, missing) > 0;
}

}  // namespace vudaduv::cli::test
