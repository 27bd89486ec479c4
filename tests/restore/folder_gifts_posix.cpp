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

std::string Error(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

bool GiveFolderInheritance(const std::filesystem::path& folder, std::string& why) {
    const std::string p = folder.string();
    if (::chown(p.c_str(), static_cast<uid_t>(-1), kOtherGroup) != 0) {
        why = Error("chown to another group (needs root)");
        return false;
    }
    if (::chmod(p.c_str(), 02775) != 0) {
        why = Error("chmod g+s");
        return false;
    }
    const AclEntry entries[] = {
        {kUserObj, 7, kNoId}, {kUser, 4, kOtherUser}, {kGroupObj, 5, kNoId}, {kMask, 5, kNoId}, {kOther, 5, kNoId}};
    std::vector<std::uint8_t> value(4 + sizeof entries);
    const std::uint32_t version = 2;
    std::memcpy(value.data(), &version, 4);
    std::memcpy(value.data() + 4, entries, sizeof entries);
    if (::setxattr(p.c_str(), "system.posix_acl_default", value.data(), value.size(), 0) != 0) {
        why = Error("default ACL");
        return false;
    }
    return true;
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

bool SmallVolume::Mount(const std::filesystem::path& folder, std::uint64_t bytes, std::string& why) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        why = Error("mounting a tmpfs (needs root)");
        return false;
    }
    mounted_ = folder;
    return true;
}

}  // namespace restoretest
