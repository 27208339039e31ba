// The subcommands of the tool. Each takes the arguments after its name and returns the exit
// status.
#pragma once

#include <string>
#include <vector>

namespace vudaduv::cli {

using Arguments = std::vector<std::string>;

int RunSend(const Arguments& args);
int RunCheck(const Arguments& args);
int RunEncode(const Arguments& args);
int RunDecode(const Arguments& args);
int RunScale(const Arguments& args);
int RunDemo(const Arguments& args);
int RunPull(const Arguments& args);
int RunDiff(const Arguments& args);
int RunSync(const Arguments& args);

}  // namespace vudaduv::cli
