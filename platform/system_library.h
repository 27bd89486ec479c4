#pragma once
// Where the program's DLLs come from. The program runs elevated and is
// often started from a downloads folder, where anyone may have left a DLL
// named like a system one: a DLL the program loads itself must never be
// looked for anywhere but in the system folder.

namespace platform {

// Restricts the DLL search of every later load in this process to the
// system folder (SetDefaultDllDirectories, where Windows has it; the
// current folder is taken out of the search in any case). Call first
// thing. Nothing on POSIX.
void SearchDllsInSystemFolderOnly();

}  // namespace platform
