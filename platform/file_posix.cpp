// POSIX back end of File: open/read/write/lseek on a file descriptor.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/text.h"

namespace platform {
namespace {

int Fd(std::intptr_t h) { return static_cast<int>(h); }

timespec ToTimespec(FileTime t) {
    timespec ts{};
    const std::int64_t units = static_cast<std::int64_t>(t) - kFileTimeUnixEpochSeconds * 10000000LL;
    std::int64_t sec = units / 10000000LL;
    std::int64_t rem = units % 10000000LL;
    if (rem < 0) {
        rem += 10000000LL;
        --sec;
    }
    ts.tv_sec = static_cast<time_t>(sec);
    ts.tv_nsec = static_cast<long>(rem * 100);
    return ts;
}

}  // namespace

File File::OpenForReading(std::u16string_view path) {
    const std::string p = Utf16ToUtf8(path);
    if (p.empty()) return File();
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return File();
    struct stat st{};
    // Windows opens no folder with these flags; keep the same answer.
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return File();
    }
    return File(fd);
}

File File::CreateAlways(std::u16string_view path, std::uint32_t attributes) {
    const std::string p = Utf16ToUtf8(path);
    if (p.empty()) return File();
    struct stat st{};
    // CREATE_ALWAYS on Windows fails on an existing read-only file and on a
    // folder; truncating through a fresh descriptor would succeed on POSIX
    // for the owner, so refuse both the same way.
    if (::stat(p.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) return File();
    const mode_t mode = (attributes & 0x1) ? 0444 : 0666;
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return File();
    return File(fd);
}

File File::CreateNew(std::u16string_view path, bool* existed) {
    if (existed) *existed = false;
    const std::string p = Utf16ToUtf8(path);
    if (p.empty()) return File();
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        // O_EXCL reports a link at the path (even a dangling one) as EEXIST;
        // ELOOP comes from O_NOFOLLOW on some systems.
        if (existed) *existed = errno == EEXIST || errno == ELOOP;
        return File();
    }
    return File(fd);
}

bool File::IsOpen() const noexcept { return handle_ != kNone; }

bool File::IsDiskFile() const noexcept {
    struct stat st{};
    return IsOpen() && ::fstat(Fd(handle_), &st) == 0 && S_ISREG(st.st_mode);
}

bool File::GetPosition(std::uint64_t& position) const noexcept {
    if (!IsOpen()) return false;
    const off_t p = ::lseek(Fd(handle_), 0, SEEK_CUR);
    if (p < 0) return false;
    position = static_cast<std::uint64_t>(p);
    return true;
}

bool File::SetPosition(std::uint64_t position) noexcept {
    if (!IsOpen() || position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return ::lseek(Fd(handle_), static_cast<off_t>(position), SEEK_SET) >= 0;
}

bool File::GetSize(std::uint64_t& size) const noexcept {
    struct stat st{};
    if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::Read(void* buffer, std::size_t count, std::size_t& received) noexcept {
    received = 0;
    if (!IsOpen()) return false;
    auto* p = static_cast<char*>(buffer);
    // Like ReadFile on a disk file: keep reading until the count is met or
    // the file ends.
    while (received < count) {
        const ssize_t n = ::read(Fd(handle_), p + received, count - received);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        received += static_cast<std::size_t>(n);
    }
    return true;
}

bool File::Write(const void* buffer, std::size_t count) noexcept {
    if (!IsOpen()) return false;
    const auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(Fd(handle_), p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            outOfRoom_ = errno == ENOSPC || errno == EDQUOT;
            return false;
        }
        if (n == 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool File::SetTimes(FileTime /*creation*/, FileTime access, FileTime write) noexcept {
    if (!IsOpen()) return false;
    // POSIX file systems keep no settable creation time; it is skipped.
    timespec times[2];
    times[0] = access ? ToTimespec(access) : timespec{0, UTIME_OMIT};
    times[1] = write ? ToTimespec(write) : timespec{0, UTIME_OMIT};
    return ::futimens(Fd(handle_), times) == 0;
}

bool File::SetTimesAndNormal(FileTime creation, FileTime access, FileTime write) noexcept {
    // A file this back end creates is writable by its owner already: the
    // times are all there is to set.
    return SetTimes(creation, access, write);
}

bool File::GetIdentity(FileIdentity& identity) const {
    struct stat st{};
    if (!IsOpen() || ::fstat(Fd(handle_), &st) != 0) return false;
    identity.volume = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

bool File::Close() noexcept {
    if (!IsOpen()) return true;
    const int r = ::close(Fd(std::exchange(handle_, kNone)));
    return r == 0;
}

}  // namespace platform
