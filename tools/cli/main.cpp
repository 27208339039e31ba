// vudaduv: the command-line tool over the library, and the virtual scale to try it on.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "args.h"
#include "commands.h"
#include "os.h"

namespace vudaduv::cli {

namespace {

struct Subcommand {
    const char* name;
    const char* summary;
    int (*run)(const Arguments&);
};

constexpr Subcommand kSubcommands[] = {
    {"send", "send data lines to scales and print the upload lines", RunSend},
    {"check", "tell which data lines would not arrive as written", RunCheck},
    {"encode", "print the command lines of data lines, without sending", RunEncode},
    {"decode", "print the upload lines of a reply file, without changing it", RunDecode},
    {"scale", "run the virtual scale", RunScale},
    {"pull", "read every slot of every scale into scale images", RunPull},
    {"diff", "compare images, data files or scales record by record", RunDiff},
    {"sync", "bring every scale to hold a list, sending only what differs", RunSync},
    {"demo", "download and read back every record type on a virtual scale", RunDemo},
};

void PrintToolHelp() {
    std::printf(
        "Usage: vudaduv COMMAND [OPTIONS]\n"
        "\n"
        "Downloads data lines to label scales through the vudaduv library and reads them\n"
        "back.\n"
        "\n"
        "Commands:\n");
    for (const Subcommand& command : kSubcommands) {
        std::printf("  %-8s %s\n", command.name, command.summary);
    }
    std::printf(
        "\n"
        "'vudaduv COMMAND --help' tells more about each command. Start with\n"
        "'vudaduv demo'. 'vudaduv --version' prints the version.\n"
        "\n"
        "Exit status: 0 success, 1 a send or verification failed, 2 bad arguments,\n"
        "3 a file could not be read, 4 the check found lines that would not arrive as\n"
        "written.\n");
}

int Dispatch(int argc, char** argv) {
    if (argc < 2) {
        return UsageError(
            "", "a command is needed (send, check, pull, diff, sync, scale, ...; see --help)");
    }
    const char* name = argv[1];
    // "vudaduv help send" is "vudaduv send --help".
    if (std::strcmp(name, "help") == 0 && argc > 2) {
        for (const Subcommand& command : kSubcommands) {
            if (std::strcmp(argv[2], command.name) == 0) return command.run(Arguments{"--help"});
        }
        return UsageError("", std::string("unknown command '") + argv[2] + "'");
    }
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 ||
        std::strcmp(name, "help") == 0) {
        PrintToolHelp();
        return kExitOk;
    }
    if (std::strcmp(name, "--version") == 0) {
        std::printf("vudaduv %s\n", VUDADUV_VERSION);
        return kExitOk;
    }
    for (const Subcommand& command : kSubcommands) {
        if (std::strcmp(name, command.name) == 0) {
            return command.run(Arguments(argv + 2, argv + argc));
        }
    }
    return UsageError("", std::string("unknown command '") + name + "'");
}

}  // namespace

}  // namespace vudaduv::cli

namespace {

// Output that did not arrive (a full disk, a closed pipe) makes the run a failure.
int WithOutputChecked(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "vudaduv: cannot write to standard output: %s\n",
                 errno != 0 ? std::strerror(errno) : "write error");
    return vudaduv::cli::kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    vudaduv::cli::os::UseRawStandardStreams();
    int status = vudaduv::cli::kExitFailed;
    try {
        status = vudaduv::cli::Dispatch(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vudaduv: internal error: %s\n", error.what());
    }
    return WithOutputChecked(status);
}
