#pragma once
// What the restore dialog says about a run, in Japanese: the status line
// while it goes and after it ends, and why it failed. The engine reports
// codes and reasons only; this is the one place that words them for the
// dialog (the console's wording is its own). Numbers come through
// NumberText, so that the Windows side formats them the way the user's
// locale does.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "restore/restore.h"

// Numbers as the user reads them.
class NumberText {
public:
    virtual ~NumberText() = default;
    // A count, with digit grouping: "12,345".
    virtual std::u16string Whole(std::uint64_t value) const;
    // A value with one decimal, given in tenths: 12 is "1.2".
    virtual std::u16string Tenths(std::uint64_t tenths) const;
};

// A number's digits as they are, no grouping: "12345".
std::u16string Digits(std::uint64_t value);

// "1.2 MB": a byte count scaled to KB/MB/GB/TB, one decimal.
std::u16string SizeText(std::uint64_t bytes, const NumberText& numbers);

// "残り 約 2 分" for `seconds` left, rounded up to a figure a person
// reads at a glance (5 s steps under a minute, minutes under an hour).
std::u16string TimeLeftText(std::uint64_t seconds);

// "3 分 12 秒": how long a run took.
std::u16string DurationText(double seconds);

// The status line while a run goes: entries and bytes done of all, then
// the time left once there is one to show (`secondsLeft`), else that it is
// being worked out.
std::u16string RunningText(const RestoreProgress& progress, std::optional<std::uint64_t> secondsLeft,
                           const NumberText& numbers);
// The status line once a run has stopped on the user's request.
std::u16string StoppingText();

// True for the end of a run the user asked to stop (the engine ends it as
// an entry failure whose reason is the interruption).
bool RunWasStopped(int resultCode, const RestoreFailure& failure);

// The status line after a run: restored entries, bytes and time taken.
std::u16string SucceededText(const RestoreProgress& progress, double seconds, const NumberText& numbers);
// ... after a run the user stopped: how many entries of how many stay.
std::u16string StoppedText(std::int32_t restored, std::int32_t total, const NumberText& numbers);
// ... after a failed run: why, one text per reason the engine reports.
// `archiveExists` tells apart the two causes of RESTORE_NO_ARCHIVE.
std::u16string FailedText(int resultCode, const RestoreFailure& failure, bool archiveExists);

// Why an entry failed, without the sentence around it.
std::u16string EntryReasonText(const RestoreFailure& failure);
std::u16string ExtractReasonText(ExtractFailure failure);

// An entry name as a path below the destination: the archive's "/" as
// Windows writes it, control characters (a line break in a name would cut
// the line) as "?".
std::u16string EntryPathText(std::u16string_view entryName);
