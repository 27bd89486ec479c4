#include "tests/support/start_process_win32.h"

#include <cstdio>

namespace testsupport {

bool StartProcess(const wchar_t* application, std::wstring& commandLine, BOOL inheritHandles, DWORD flags,
                  const wchar_t* folder, STARTUPINFOW& startup, PROCESS_INFORMATION& info) {
    // Seen in CI one start in some hundreds, and the next start of the
    // same program a second later went through: a short pause, growing.
    constexpr int kTries = 5;
    for (int attempt = 1;; ++attempt) {
        if (::CreateProcessW(application, commandLine.data(), nullptr, nullptr, inheritHandles, flags, nullptr, folder,
                             &startup, &info))
            return true;
        const DWORD error = ::GetLastError();
        if (error != ERROR_INTERNAL_ERROR || attempt == kTries) {
            ::SetLastError(error);
            return false;
        }
        std::fprintf(stderr, "the new process ended before it started (error %lu), starting it again (try %d of %d)\n",
                     error, attempt + 1, kTries);
        std::fflush(stderr);
        ::Sleep(250u << (attempt - 1));
    }
}

}  // namespace testsupport
