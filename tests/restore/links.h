#pragma once
// Things a test puts in a destination that the C++ library can't make on
// every platform: symbolic links (MinGW's std::filesystem refuses them, the
// Win32 call works under Wine) and named pipes (POSIX only).

#include <filesystem>

namespace restoretest {

// A symbolic link at `link` leading to `target` (a folder link when
// `folder`). False when this system can't make one.
bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder);

// A named pipe at `path`. False where there are none.
bool MakeFifo(const std::filesystem::path& path);

}  // namespace restoretest
