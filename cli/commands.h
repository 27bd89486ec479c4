#pragma once
// Subcommands of sorvane-cli. Each takes the arguments after its own name
// (UTF-8 on every platform) and returns the process exit status.

#include <string>
#include <vector>

int RunRestoreCommand(const std::vector<std::string>& args);
int RunListCommand(const std::vector<std::string>& args);
int RunInfoCommand(const std::vector<std::string>& args);
int RunTestCommand(const std::vector<std::string>& args);
int RunPlanCommand(const std::vector<std::string>& args);
int RunBackupsCommand(const std::vector<std::string>& args);

// The whole program after its entry point has turned the command line into
// UTF-8 (program name dropped): dispatch to a subcommand, --help, --version.
int RunCli(const std::vector<std::string>& args);

// Writes UTF-8 bytes to stdout / stderr unchanged on every platform.
void WriteOut(const std::string& utf8);
void WriteErr(const std::string& utf8);
