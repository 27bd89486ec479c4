#pragma once
// Text that sorvane-cli shows: usage, result codes and failure reasons,
// times. The engine reports codes and reasons; only the front end words them.

#include <cstdint>
#include <string>

#include "restore/restore.h"

inline constexpr int kExitUsage = 2;
// backups: the folder could not be listed.
inline constexpr int kExitFolderUnreadable = 1;

// The usage summary, ending in a newline.
std::string UsageText();

// A reader result for humans: handle-level codes in hex as the reader's
// table lists them (0x200), catalogue statuses in decimal (-103).
std::string ResultText(ArchiveResult result);

// One line (with newline) naming the run's code and why it failed: for -5
// which entry and what refused it. `archiveExists` tells the two causes of
// -6 apart.
std::string RestoreFailureLine(int code, const RestoreFailure& failure, bool archiveExists);

// Why an entry failed (or would fail), in words: the part of the failure
// line after the entry's name.
std::string EntryReason(const RestoreFailure& failure);

// An entry name as UTF-8 for one line of output: control characters
// (a line feed or a tab in a name would break the line or its columns, an
// escape would reach the terminal) are written as \xNN.
std::string PrintableName(const std::u16string& name);

// A Windows file time as UTC "YYYY-MM-DD HH:MM:SS", with ".FFFFFFF" (100 ns
// units) after it when the time is not a whole second.
std::string FormatFileTimeUtc(std::uint64_t fileTime);
