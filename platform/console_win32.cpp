// Win32 back end of the standard streams. A console takes UTF-16 through
// WriteConsoleW, which needs no code page; a redirected stream (file or
// pipe) fails WriteConsoleW, and gets the UTF-8 bytes through WriteFile.

#include <windows.h>

#include <string>

#include "platform/console.h"
#include "platform/text.h"

namespace platform {

namespace {

HANDLE StreamHandle(StandardStream stream) {
    return ::GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

bool IsTerminal(StandardStream stream) { return IsConsole(StreamHandle(stream)); }

bool WriteText(StandardStream stream, std::string_view utf8) {
    const HANDLE handle = StreamHandle(stream);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    if (IsConsole(handle)) {
        const std::u16string text = Utf8ToUtf16(utf8);
        const wchar_t* data = reinterpret_cast<const wchar_t*>(text.data());
        std::size_t left = text.size();
        while (left > 0) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(left > 16384 ? 16384 : left);
            if (!::WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0) return false;
            data += written;
            left -= written;
        }
        return true;
    }
    const char* data = utf8.data();
    std::size_t left = utf8.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(left > (1u << 20) ? (1u << 20) : left);
        if (!::WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
        data += written;
        left -= written;
    }
    return true;
}

}  // namespace platform
