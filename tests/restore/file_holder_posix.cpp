// Holding a file, POSIX back end: POSIX knows no sharing modes, so an open
// file never stands in anybody's way.

#include "file_holder.h"

namespace restoretest {

struct FileHolder::State {};

FileHolder::FileHolder() = default;
FileHolder::~FileHolder() = default;

SetUp FileHolder::Hold(const std::filesystem::path&, unsigned) {
    return {SetUp::kNotOnThisSystem, "POSIX file systems enforce no sharing between programs"};
}

}  // namespace restoretest
