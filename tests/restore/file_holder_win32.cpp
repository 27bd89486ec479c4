// Holding a file, Win32 back end: CreateFileW with no sharing on a thread
// that closes it after the given time, or sooner when the holder goes.

#include <windows.h>

#include <thread>

#include "file_holder.h"

namespace restoretest {

struct FileHolder::State {
    std::thread thread;
    HANDLE letGo = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

FileHolder::FileHolder() : state_(std::make_unique<State>()) {}

FileHolder::~FileHolder() {
    ::SetEvent(state_->letGo);
    if (state_->thread.joinable()) state_->thread.join();
    ::CloseHandle(state_->letGo);
}

SetUp FileHolder::Hold(const std::filesystem::path& file, unsigned milliseconds) {
    HANDLE held = ::CreateFileW(file.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return {SetUp::kFailed, "the file could not be opened to hold it"};
    state_->thread = std::thread([held, milliseconds, letGo = state_->letGo] {
        ::WaitForSingleObject(letGo, milliseconds);
        ::CloseHandle(held);
    });
    return {};
}

}  // namespace restoretest
