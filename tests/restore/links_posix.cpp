// Links and pipes for the tests, POSIX back end: everything can be made
// here, so anything not made is a failure.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

SetUp SetUmask(unsigned mask, unsigned& previous) {
    previous = ::umask(static_cast<mode_t>(mask));
    return {};
}

namespace {

// Sets or clears the immutable flag; the error number, or 0.
int SetImmutable(const std::filesystem::path& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    int flags = 0;
    int error = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        error = errno;
    } else {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        if (::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) error = errno;
    }
    ::close(fd);
    return error;
}

}  // namespace

SetUp MakeUnchangeable(const std::filesystem::path& path) {
    const int error = SetImmutable(path, true);
    if (error == 0) return {};
    // Without the right (not the superuser, a container without
    // CAP_LINUX_IMMUTABLE) or on a file system without the flag.
    if (error == EPERM || error == ENOTTY || error == EOPNOTSUPP || error == EINVAL)
        return {SetUp::kNotOnThisSystem, "immutable flag on " + path.string() + ": " + std::strerror(error)};
    return Failed("immutable flag on " + path.string(), error);
}

void MakeChangeable(const std::filesystem::path& path) { SetImmutable(path, false); }

SetUp LimitFileSize(std::uint64_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return Failed("getrlimit(RLIMIT_FSIZE)", errno);
    limit.rlim_cur = bytes == 0 ? limit.rlim_max : static_cast<rlim_t>(bytes);
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return Failed("setrlimit(RLIMIT_FSIZE)", errno);
    return {};
}

}  // namespace restoretest
