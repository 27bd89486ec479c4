#pragma once
// Things a test puts in a destination that the C++ library can't make on
// every platform: symbolic links (MinGW's std::filesystem refuses them, the
// Win32 call works under Wine) and named pipes (POSIX only).

#include <cstdint>
#include <filesystem>

namespace restoretest {

// A symbolic link at `link` leading to `target` (a folder link when
// `folder`). False when this system can't make one.
bool MakeLink(const std::filesystem::path& link, const std::filesystem::path& target, bool folder);

// A named pipe at `path`. False where there are none.
bool MakeFifo(const std::filesystem::path& path);

// Makes this process's writes past `bytes` of any file fail, the way a full
// disk fails them (POSIX: RLIMIT_FSIZE, with SIGXFSZ ignored); 0 lifts the
// limit. False where there is no such limit.
bool LimitFileSize(std::uint64_t bytes);

}  // namespace restoretest
