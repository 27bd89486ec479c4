// POSIX back end of the standard streams: bytes go out unchanged.

#include <unistd.h>

#include <cerrno>

#include "platform/console.h"

namespace platform {

namespace {

int Descriptor(StandardStream stream) { return stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO; }

}  // namespace

bool IsTerminal(StandardStream stream) { return ::isatty(Descriptor(stream)) == 1; }

bool WriteText(StandardStream stream, std::string_view utf8) {
    const int fd = Descriptor(stream);
    while (!utf8.empty()) {
        const ssize_t n = ::write(fd, utf8.data(), utf8.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        utf8.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace platform
