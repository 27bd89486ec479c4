#pragma once
// Runs a program to its end with its output captured, for tests of the
// console front end as a user's shell would run it: stdout and stderr are
// pipes, so it does not see a terminal.

#include <filesystem>
#include <string>
#include <vector>

namespace clitest {

struct ProgramResult {
    int exitCode = -1;  // -1 when the program could not be started
    std::string out;
    std::string err;
};

// `args` are UTF-8; the program starts in `workingFolder`.
ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingFolder);

}  // namespace clitest
