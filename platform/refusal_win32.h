#pragma once
// How the Win32 back end reads a refused removal or move, shared with its
// tests: a file held by another program is waited for, a refusal by access
// rules is reported at once.

#include "platform/fs.h"

namespace platform {

// `error` is GetLastError's value, `status` the NTSTATUS behind it
// (RtlGetLastNtStatus; 0 when unknown), `attributes` the file's
// (INVALID_FILE_ATTRIBUTES when unknown), `openForDeleteError` what opening
// it for deletion with all sharing then gave (0: it opened).
Refusal ClassifyRefusal(unsigned long error, long status, unsigned long attributes, unsigned long openForDeleteError);

}  // namespace platform
