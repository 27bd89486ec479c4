#pragma once
// The identity of an open Win32 file handle, shared by the file and path
// back ends. False when the system can't tell.

#include <windows.h>

#include "platform/file.h"

namespace platform {

bool IdentityOfHandle(HANDLE handle, FileIdentity& identity);

}  // namespace platform
