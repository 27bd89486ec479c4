#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "run_program.h"

namespace clitest {

bool CanInterrupt(std::string&) { return true; }

namespace {

int SignalOf(InterruptKind kind) {
    switch (kind) {
    case InterruptKind::kCtrlC: return SIGINT;
    case InterruptKind::kTerminate: return SIGTERM;
    case InterruptKind::kHangUp: return SIGHUP;
    }
    return SIGINT;
}

}  // namespace

ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingFolder, const Interruption* interruption) {
    ProgramResult result;
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0) return result;
    if (::pipe(errPipe) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return result;
    }
    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string folder = workingFolder.string();

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::close(outPipe[1]);
        ::close(errPipe[1]);
        if (::chdir(folder.c_str()) != 0) ::_exit(126);
        if (interruption && interruption->oneCore) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(0, &one);
            if (::sched_setaffinity(0, sizeof one, &one) != 0) ::_exit(125);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }
    // Both pipes are drained together so that neither side can fill up and
    // stall the program.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    bool interrupted = interruption == nullptr;
    while (open > 0) {
        if (!interrupted && interruption->when()) {
            ::kill(pid, SignalOf(interruption->kind));
            interrupted = true;
        }
        if (::poll(fds, 2, interrupted ? -1 : 2) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace clitest
