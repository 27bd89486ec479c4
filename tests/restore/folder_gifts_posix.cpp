// What folders give their files, POSIX back end: setgid groups, default
// ACLs (written as the kernel's extended attribute, so no ACL tools are
// needed) and tmpfs volumes.

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "folder_gifts.h"

namespace restoretest {
namespace {

constexpr gid_t kOtherGroup = 65534;  // nogroup
constexpr std::uint32_t kOtherUser = 65534;  // nobody

// One entry of the kernel's ACL attribute (version 2).
struct AclEntry {
    std::uint16_t tag;
    std::uint16_t perm;
    std::uint32_t id;
};
constexpr std::uint16_t kUserObj = 0x01, kUser = 0x02, kGroupObj = 0x04, kMask = 0x10, kOther = 0x20;
constexpr std::uint32_t kNoId = 0xFFFFFFFFu;

// Without the rights (not root) the set-up is not for this system; with
// them, a refusal is a failure.
SetUp Refused(const char* what) {
    const int error = errno;
    return {error == EPERM || error == EACCES ? SetUp::kNotOnThisSystem : SetUp::kFailed,
            std::string(what) + ": " + std::strerror(error)};
}

}  // namespace

SetUp GiveFolderInheritance(const std::filesystem::path& folder) {
    const std::string p = folder.string();
    if (::chown(p.c_str(), static_cast<uid_t>(-1), kOtherGroup) != 0) return Refused("chown to another group");
    if (::chmod(p.c_str(), 02775) != 0) return Refused("chmod g+s");
    const AclEntry entries[] = {
        {kUserObj, 7, kNoId}, {kUser, 4, kOtherUser}, {kGroupObj, 5, kNoId}, {kMask, 5, kNoId}, {kOther, 5, kNoId}};
    std::vector<std::uint8_t> value(4 + sizeof entries);
    const std::uint32_t version = 2;
    std::memcpy(value.data(), &version, 4);
    std::memcpy(value.data() + 4, entries, sizeof entries);
    if (::setxattr(p.c_str(), "system.posix_acl_default", value.data(), value.size(), 0) != 0) {
        // A file system without ACLs is no fault of the code under test.
        if (errno == ENOTSUP) return {SetUp::kNotOnThisSystem, "no ACLs on this file system"};
        return Refused("default ACL");
    }
    return {};
}

std::string InheritedBy(const std::filesystem::path& file) {
    struct stat st{};
    if (::lstat(file.c_str(), &st) != 0) return "missing";
    std::string text = "gid " + std::to_string(st.st_gid) + ", mode " + std::to_string(st.st_mode & 07777) + ", acl";
    std::uint8_t acl[256];
    const ssize_t n = ::getxattr(file.c_str(), "system.posix_acl_access", acl, sizeof acl);
    for (ssize_t i = 0; i < n; ++i) text += ' ' + std::to_string(acl[i]);
    return text;
}

SmallVolume::~SmallVolume() {
    if (!mounted_.empty()) ::umount2(mounted_.c_str(), MNT_DETACH);
}

SetUp SmallVolume::Mount(const std::filesystem::path& folder, std::uint64_t bytes) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) return Refused("mounting a tmpfs");
    mounted_ = folder;
    return {};
}

}  // namespace restoretest
