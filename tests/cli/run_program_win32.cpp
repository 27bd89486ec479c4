#include <windows.h>

#include <thread>

#include "platform/text.h"
#include "run_program.h"
#include "tests/support/start_process_win32.h"

namespace clitest {

namespace {

// Quotes one argument the way the C runtime's command-line parser reads it.
std::wstring Quote(const std::wstring& arg) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
            out.push_back(c);
            backslashes = 0;
            continue;
        } else {
            backslashes = 0;
        }
        out.push_back(c);
    }
    out.append(backslashes, L'\\');
    out.push_back(L'"');
    return out;
}

std::wstring Wide(const std::string& utf8) {
    const std::u16string s = platform::Utf8ToUtf16(utf8);
    return std::wstring(s.begin(), s.end());
}

// Paths handed in from the build are Unix paths when the tests run under
// Wine; its Z: drive is the Unix root.
std::wstring WindowsPath(const std::filesystem::path& p) {
    std::wstring s = p.wstring();
    for (wchar_t& c : s) {
        if (c == L'/') c = L'\\';
    }
    if (!s.empty() && s[0] == L'\\' && (s.size() < 2 || s[1] != L'\\')) s = L"Z:" + s;
    return s;
}

void Drain(HANDLE pipe, std::string* sink) {
    char buffer[4096];
    DWORD n = 0;
    while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink->append(buffer, n);
}

}  // namespace

bool CanInterrupt(std::string& why) {
    why = "no console control event reaches another process from a test run with pipes for its output";
    return false;
}

ProgramResult RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingFolder, const Interruption* interruption) {
    ProgramResult result;
    if (interruption) return result;
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
    if (!::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        ::CloseHandle(outRead);
        ::CloseHandle(outWrite);
        return result;
    }
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                               nullptr);

    const std::wstring exe = WindowsPath(program);
    std::wstring commandLine = Quote(exe);
    for (const auto& a : args) commandLine += L" " + Quote(Wide(a));
    const std::wstring folder = WindowsPath(workingFolder);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    const bool started =
        testsupport::StartProcess(exe.c_str(), commandLine, TRUE, CREATE_NO_WINDOW, folder.c_str(), startup, process);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    if (started) {
        std::thread errReader(Drain, errRead, &result.err);
        Drain(outRead, &result.out);
        errReader.join();
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    return result;
}

}  // namespace clitest
