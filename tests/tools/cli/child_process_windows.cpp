#include <windows.h>

#include "child_process.h"

namespace vudaduv::cli::test {

namespace {

constexpr UINT kTerminatedStatus = 1;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE HandleOf(ProcessId process) {
    return reinterpret_cast<HANDLE>(process);
}

// One argument as the C runtime's parser takes it back: quoted when it holds blanks or quotes,
// with the backslashes before a quote doubled.
std::string Quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

HANDLE OpenInherited(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, kShareAll, &inherited, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void CloseIfOpen(HANDLE handle) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

}  // namespace

std::string ToolPath() {
    char self[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, length < sizeof self ? length : 0);
    std::size_t slash = path.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           VUDADUV_TOOL_FILE_NAME;
}

ProcessId StartProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& inputPath, const std::string& outPath,
                       const std::string& errPath) {
    HANDLE input = OpenInherited(inputPath, GENERIC_READ, OPEN_EXISTING);
    HANDLE output = OpenInherited(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE errors = OpenInherited(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    std::string commandLine = Quoted(program);
    for (const std::string& arg : args) commandLine += " " + Quoted(arg);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION started{};
    bool ok = input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE &&
              errors != INVALID_HANDLE_VALUE &&
              CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup, &started);
    CloseIfOpen(input);
    CloseIfOpen(output);
    CloseIfOpen(errors);
    if (!ok) return kNoProcess;
    CloseHandle(started.hThread);
    return reinterpret_cast<ProcessId>(started.hProcess);
}

bool ProcessEnded(ProcessId process) {
    if (WaitForSingleObject(HandleOf(process), 0) != WAIT_OBJECT_0) return false;
    CloseHandle(HandleOf(process));
    return true;
}

int WaitForProcess(ProcessId process, int boundMs) {
    HANDLE handle = HandleOf(process);
    int status = -1;
    if (WaitForSingleObject(handle, static_cast<DWORD>(boundMs)) == WAIT_OBJECT_0) {
        DWORD code = 0;
        if (GetExitCodeProcess(handle, &code)) status = static_cast<int>(code);
    } else {
        TerminateProcess(handle, kTerminatedStatus);
        WaitForSingleObject(handle, static_cast<DWORD>(boundMs));
    }
    CloseHandle(handle);
    return status;
}

void AskToEnd(ProcessId process) {
    TerminateProcess(HandleOf(process), kTerminatedStatus);
}

bool AskToEndLetsItFinish() {
    return false;
}

}  // namespace vudaduv::cli::test
