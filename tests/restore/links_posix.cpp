// Links and pipes for the tests, POSIX back end: everything can be made
// here, so anything not made is a failure.

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "links.h"

namespace restoretest {

namespace {

SetUp Failed(const std::string& what, int error) { return {SetUp::kFailed, what + ": " + std::strerror(error)}; }

}  // namespace

SetUp MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder) {
    std::error_code ec;
    if (folder) {
        std::filesystem::create_directory_symlink(target, link, ec);
    } else {
        std::filesystem::create_symlink(target, link, ec);
    }
    if (ec) return {SetUp::kFailed, "symbolic link " + link.string() + ": " + ec.message()};
    return {};
}

SetUp MakeFifo(const std::filesystem::path& path) {
    if (::mkfifo(path.c_str(), 0666) != 0) return Failed("named pipe " + path.string(), errno);
    return {};
}

SetUp LimitFileSize(std::uint64_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return Failed("getrlimit(RLIMIT_FSIZE)", errno);
    limit.rlim_cur = bytes == 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return Failed("setrlimit(RLIMIT_FSIZE)", errno);
    return {};
}

}  // namespace restoretest
