// POSIX back end of the path operations. Windows attribute words are mapped
// onto what POSIX has: the directory bit from the file type, read-only from
// the owner write bit.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <climits>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "platform/text.h"

namespace platform {

const bool kNamesIgnoreCase = false;

std::u16string NameKey(std::u16string_view name) { return std::u16string(name); }
const char16_t kPathSeparator = u'/';

namespace {

std::string Native(const std::u16string& path) { return Utf16ToUtf8(path); }

FileTime FileTimeOf(const timespec& t) {
    const std::int64_t units = (static_cast<std::int64_t>(t.tv_sec) + kFileTimeUnixEpochSeconds) * 10000000LL +
                               t.tv_nsec / 100;
    return units > 0 ? static_cast<FileTime>(units) : 0;
}

}  // namespace

bool PathFits(std::u16string_view path) { return Utf8Length(path) < PATH_MAX; }
bool NameFits(std::u16string_view name) { return Utf8Length(name) <= NAME_MAX; }
const char* PathLimitText() { return "4,095 bytes (PATH_MAX)"; }
const char* NameLimitText() { return "255 bytes (NAME_MAX)"; }

// Joined, not cleaned: ".." after a link means the link's parent to the
// kernel, which the text can't know.
std::u16string FullPath(const std::u16string& path) {
    if (path.empty()) return {};
    if (path[0] == u'/') return path;
    std::u16string current;
    if (!GetCurrentFolder(current)) return {};
    if (current.empty() || current.back() != u'/') current.push_back(u'/');
    return current + path;
}

bool GetCurrentFolder(std::u16string& folder) {
    std::vector<char> buffer(PATH_MAX + 1);
    if (!::getcwd(buffer.data(), buffer.size())) return false;
    folder = Utf8ToUtf16(buffer.data());
    return true;
}

bool SetCurrentFolder(const std::u16string& folder) {
    const std::string p = Native(folder);
    return !p.empty() && ::chdir(p.c_str()) == 0;
}

bool MakeFolder(const std::u16string& path) {
    const std::string p = Native(path);
    return !p.empty() && ::mkdir(p.c_str(), 0777) == 0;
}

std::uint32_t ReadAttributes(const std::u16string& path) {
    const std::string p = Native(path);
    struct stat st{};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return kInvalidAttributes;
    if (S_ISLNK(st.st_mode)) {
        struct stat target{};
        const bool folder = ::stat(p.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        return kAttributeReparsePoint | (folder ? kAttributeDirectory : 0);
    }
    std::uint32_t attributes = 0;
    if (S_ISDIR(st.st_mode)) attributes |= kAttributeDirectory;
    if ((st.st_mode & S_IWUSR) == 0) attributes |= kAttributeReadOnly;
    return attributes == 0 ? kAttributeNormal : attributes;
}

bool WriteAttributes(const std::u16string& path, std::uint32_t attributes) {
    const std::string p = Native(path);
    struct stat st{};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return false;
    // chmod would change what the link leads to, which may lie anywhere.
    if (S_ISLNK(st.st_mode)) return true;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttributeReadOnly) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        mode |= S_IWUSR;
    }
    return ::chmod(p.c_str(), mode) == 0;
}

namespace {

Refusal RefusalOf(int error) {
    return (error == EACCES || error == EPERM || error == EROFS) ? Refusal::kAccessDenied : Refusal::kOther;
}

bool Refuse(Refusal* why, Refusal reason) {
    if (why) *why = reason;
    return false;
}

}  // namespace

bool RemoveFile(const std::u16string& path, Refusal* why) {
    if (why) *why = Refusal::kNone;
    const std::string p = Native(path);
    struct stat st{};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Refuse(why, Refusal::kOther);
    // DeleteFileW refuses a read-only file; keep that answer.
    if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) return Refuse(why, Refusal::kAccessDenied);
    if (::unlink(p.c_str()) != 0) return Refuse(why, RefusalOf(errno));
    return true;
}

// Between the look and the removal another program could still put its
// file there; POSIX has no removal by descriptor, so the window is kept to
// two calls.
bool RemoveIfMade(const std::u16string& path, const FileIdentity& made, bool folder, unsigned) {
    const std::string p = Native(path);
    struct stat st{};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return false;
    if (static_cast<std::uint64_t>(st.st_dev) != made.volume || static_cast<std::uint64_t>(st.st_ino) != made.index)
        return false;
    if (folder) return S_ISDIR(st.st_mode) && ::rmdir(p.c_str()) == 0;
    return !S_ISDIR(st.st_mode) && ::unlink(p.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::u16string& path) {
    const std::string p = Native(path);
    return !p.empty() && ::rmdir(p.c_str()) == 0;
}

bool PathExists(const std::u16string& path) {
    const std::string p = Native(path);
    struct stat st{};
    return !p.empty() && ::stat(p.c_str(), &st) == 0;
}

bool IsFolder(const std::u16string& path) {
    const std::string p = Native(path);
    struct stat st{};
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CanRead(const std::u16string& path) {
    const std::string p = Native(path);
    return !p.empty() && ::access(p.c_str(), R_OK) == 0;
}

bool FindAny(const std::u16string& path) {
    // FindFirstFileW finds nothing for a path that ends in a separator.
    if (path.empty() || path.back() == u'/' || path.back() == u'\\') return false;
    const std::string p = Native(path);
    struct stat st{};
    return ::lstat(p.c_str(), &st) == 0;
}

bool MoveReplacing(const std::u16string& from, const std::u16string& to, Refusal* why) {
    if (why) *why = Refusal::kNone;
    const std::string f = Native(from), t = Native(to);
    if (f.empty() || t.empty()) return Refuse(why, Refusal::kOther);
    struct stat st{};
    // MoveFileExW does not replace a folder. A link to one is replaced like
    // any link: rename swaps the directory entry, never what it leads to.
    if (::lstat(t.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Refuse(why, Refusal::kOther);
    if (std::rename(f.c_str(), t.c_str()) != 0) return Refuse(why, RefusalOf(errno));
    return true;
}

namespace {

MoveResult MoveError(int error) {
    if (error == EEXIST) return MoveResult::kExists;
    if (error == EXDEV) return MoveResult::kOtherVolume;
    return MoveResult::kFailed;
}

}  // namespace

MoveResult MoveNoReplace(const std::u16string& from, const std::u16string& to) {
    const std::string f = Native(from), t = Native(to);
    if (f.empty() || t.empty()) return MoveResult::kFailed;
    if (::renameat2(AT_FDCWD, f.c_str(), AT_FDCWD, t.c_str(), RENAME_NOREPLACE) == 0) return MoveResult::kMoved;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return MoveError(errno);
    // A file system without the flag: a hard link can't replace anything
    // either, and the old name goes once the new one stands.
    if (::link(f.c_str(), t.c_str()) != 0) return MoveError(errno);
    if (::unlink(f.c_str()) != 0) {
        // One file under two names is no move: the new name goes again.
        const int error = errno;
        ::unlink(t.c_str());
        errno = error;
        return MoveResult::kFailed;
    }
    return MoveResult::kMoved;
}

PathIdentity ReadPathIdentity(const std::u16string& path) {
    PathIdentity result;
    const std::string p = Native(path);
    struct stat st{};
    if (p.empty() || ::lstat(p.c_str(), &st) != 0) return result;
    result.exists = true;
    result.folder = S_ISDIR(st.st_mode);
    result.regular = S_ISREG(st.st_mode);
    result.size = result.regular ? static_cast<std::uint64_t>(st.st_size) : 0;
    result.writeTime = FileTimeOf(st.st_mtim);
    result.accessTime = FileTimeOf(st.st_atim);
    result.identity.volume = static_cast<std::uint64_t>(st.st_dev);
    result.identity.index = static_cast<std::uint64_t>(st.st_ino);
    return result;
}

bool SetFolderTimes(const std::u16string& path, FileTime /*creation*/, FileTime access, FileTime write) {
    const std::string p = Native(path);
    if (p.empty()) return false;
    // No settable creation time here; the nanosecond fields take the 100 ns
    // units whole.
    auto asTimespec = [](FileTime t) {
        if (t == 0) return timespec{0, UTIME_OMIT};
        const std::int64_t units = static_cast<std::int64_t>(t) - kFileTimeUnixEpochSeconds * 10000000LL;
        std::int64_t sec = units / 10000000LL, rem = units % 10000000LL;
        if (rem < 0) rem += 10000000LL, --sec;
        return timespec{static_cast<time_t>(sec), static_cast<long>(rem * 100)};
    };
    const timespec times[2] = {asTimespec(access), asTimespec(write)};
    return ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

bool CompleteMovedFile(const std::u16string& path, FileTime, FileTime, FileTime, FileIdentity& identity) {
    const PathIdentity there = ReadPathIdentity(path);
    if (!there.exists) return false;
    identity = there.identity;
    return true;
}

bool ListFolder(const std::u16string& folder, std::vector<FolderItem>& items) {
    items.clear();
    const std::string p = Native(folder);
    if (p.empty()) return false;
    DIR* dir = ::opendir(p.c_str());
    if (!dir) return false;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        FolderItem item;
        item.name = Utf8ToUtf16(name);
        // A link is listed as what it leads to: whoever opens the name
        // opens that.
        struct stat st{};
        if (::fstatat(::dirfd(dir), e->d_name, &st, 0) == 0) {
            item.folder = S_ISDIR(st.st_mode);
            if (S_ISREG(st.st_mode)) item.size = static_cast<std::uint64_t>(st.st_size);
        }
        items.push_back(std::move(item));
    }
    ::closedir(dir);
    return true;
}

std::u16string ModulePath() {
    std::vector<char> buffer(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return {};
    return Utf8ToUtf16(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
}

void SetJapaneseLocale() {
    if (!std::setlocale(LC_ALL, "ja_JP.UTF-8")) std::setlocale(LC_ALL, "C.UTF-8");
}

}  // namespace platform
