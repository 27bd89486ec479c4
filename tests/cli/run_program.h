#pragma once
// Runs a program to its end with its output captured, for tests of the
// console front end as a user's shell would run it: stdout and stderr are
// pipes, so it does not see a terminal.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace clitest {

struct ProgramResult {
    int exitCode = -1;  // -1 when the program could not be started
    std::string out;
    std::string err;
};

// How a user interrupts a console program: Ctrl-C, a request to end
// (SIGTERM, a session ending), the terminal going away (SIGHUP).
enum class InterruptKind { kCtrlC, kTerminate, kHangUp };

// A user interrupting the program while it runs.
struct Interruption {
    std::function<bool()> when;  // polled every few milliseconds until it holds
    InterruptKind kind = InterruptKind::kCtrlC;  // then sent to the program
    bool oneCore = false;        // the program runs on one processor
};

// False, with the reason, where a test can't interrupt a program that way.
bool CanInterrupt(std::string& why);

// `args` are UTF-8; the program starts in `workingFolder`.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingFolder, const Interruption* interruption = nullptr);

}  // namespace clitest
