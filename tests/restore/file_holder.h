#pragma once
// Another program holding a file: open with no sharing, as a virus scanner
// or an indexer holds one for a moment, on a thread of its own.

#include <filesystem>
#include <memory>
#include <string>

#include "links.h"

namespace restoretest {

class FileHolder {
public:
    FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;
    // Lets go of the file now.
    ~FileHolder();
    // Holds `file` for `milliseconds`, from the moment this returns. Not on
    // this system where the system enforces no sharing between programs.
    SetUp Hold(const std::filesystem::path& file, unsigned milliseconds);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace restoretest
