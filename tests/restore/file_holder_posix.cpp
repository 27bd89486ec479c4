// Holding a file, POSIX back end: POSIX knows no sharing modes, so an open
// file never stands in anybody's way.

#include "file_holder.h"

namespace restoretest {

struct FileHolder::State {};

FileHolder::FileHolder() = default;
FileHolder::~FileHolder() = default;

bool FileHolder::Hold(const std::filesystem::path&, unsigned, std::string& why) {
    why = "POSIX file systems enforce no sharing between programs";
    return false;
}

}  // namespace restoretest
