// Links and pipes for the tests, POSIX back end.

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "links.h"

namespace restoretest {

bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder) {
    std::error_code ec;
    if (folder) {
        std::filesystem::create_directory_symlink(target, link, ec);
    } else {
        std::filesystem::create_symlink(target, link, ec);
    }
    return !ec;
}

bool MakeFifo(const std::filesystem::path& path) { return ::mkfifo(path.c_str(), 0666) == 0; }

bool LimitFileSize(std::uint64_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
    limit.rlim_cur = bytes == 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

}  // namespace restoretest
