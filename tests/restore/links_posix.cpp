// Links and pipes for the tests, POSIX back end.

#include <sys/stat.h>

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

}  // namespace restoretest
