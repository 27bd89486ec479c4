// Ownership of File, the same on every platform; opening, reading and
// closing are the back ends' (file_posix.cpp, file_win32.cpp).

#include "platform/file.h"

#include <utility>

namespace platform {

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
}

File::~File() { Close(); }

}  // namespace platform
