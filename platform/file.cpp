// Ownership of File, the same on every platform; opening, reading and
// closing are the back ends' (file_posix.cpp, file_win32.cpp).

#include "platform/file.h"

#include <utility>

namespace platform {

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kNone)), outOfRoom_(std::exchange(other.outOfRoom_, false)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kNone);
        outOfRoom_ = std::exchange(other.outOfRoom_, false);
    }
    return *this;
}

File::~File() { Close(); }

bool FileSystemKeepsFileIds(std::u16string_view fileSystemName) {
    std::u16string upper;
    for (char16_t c : fileSystemName) upper.push_back(c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c);
    // NTFS and ReFS keep ids (ReFS only in the 128-bit form); the FAT family
    // numbers files by their directory entries. Anything unknown is not
    // trusted: its files are compared by name, which is slower, and where
    // even the name can't be read the entry fails rather than be taken for
    // another.
    return upper == u"NTFS" || upper == u"REFS";
}

}  // namespace platform
