#pragma once
// The process's standard output and error streams. Text is UTF-8 in the
// console front end on every platform; a Windows console gets it as UTF-16
// so it shows the right characters whatever its code page, while a file or
// a pipe gets the UTF-8 bytes unchanged.

#include <string_view>

namespace platform {

enum class StandardStream { kOutput, kError };

// Whether the stream is an interactive terminal or console (isatty;
// GetConsoleMode on Windows). False when it is redirected or closed.
bool IsTerminal(StandardStream stream);

// Writes all of `utf8`; false when the stream refused part of it.
bool WriteText(StandardStream stream, std::string_view utf8);

}  // namespace platform
