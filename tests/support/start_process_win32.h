#pragma once
// Starting a program from a test under Wine. Wine now and then loses a new
// process before it runs a single instruction of it (CreateProcessW fails
// with ERROR_INTERNAL_ERROR: the child ended before it had started). No
// program's behaviour is in that, and Windows itself does not fail so, so
// the start is tried again a few times, each retry said on stderr; any
// other failure, or the same one every time, is the caller's to report.

#include <windows.h>

#include <string>

namespace testsupport {

// CreateProcessW with these arguments; false (GetLastError set) when every
// try failed. `commandLine` is CreateProcessW's writable line.
bool StartProcess(const wchar_t* application, std::wstring& commandLine, BOOL inheritHandles, DWORD flags,
                  const wchar_t* folder, STARTUPINFOW& startup, PROCESS_INFORMATION& info);

}  // namespace testsupport
