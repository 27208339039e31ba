// A real browser for the report pages: Chromium, headless, as a process of its own with a
// profile of its own in the current directory.
#pragma once

#include <string>

namespace vudaduv::cli::test {

// Where Chromium is installed; "" where it is not (and on Windows, where the tests skip it).
std::string ChromiumPath();

// The page's document after its scripts ran, opened with #fragment when that is not ""; ""
// when Chromium gave none.
std::string DumpDom(const std::string& page, const std::string& fragment = "");

// The page drawn into a PNG file of 1100 x 700 pixels; false when none was written.
bool Screenshot(const std::string& page, const std::string& png);

// The page printed into a PDF file, as its print stylesheet lays it out; false when none was
// written.
bool PrintToPdf(const std::string& page, const std::string& pdf);

}  // namespace vudaduv::cli::test
