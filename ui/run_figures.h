#pragma once
// The figures the restore dialog shows while a run goes and after it: the
// bar's position, sizes scaled to KB/MB/GB, a time left that settles
// instead of jumping, and text shortened in the middle to fit a line. Plain
// arithmetic, kept out of the window code so that it is tested natively.

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "restore/restore.h"

// The bar's range. Bytes go up to 2^64, the control's position is an int.
inline constexpr int kBarRange = 10000;

// Where the bar stands for `progress`: by bytes when the run knows its byte
// total, else by entries. Only a run that succeeded reaches kBarRange;
// confirmed work that rounds up to the end stops one step short of it.
int BarPosition(const RestoreProgress& progress, bool succeeded);

enum class SizeUnit { kKB, kMB, kGB, kTB };

// A size as tenths of its unit (binary multiples, as Explorer counts):
// {12, kMB} is "1.2 MB". The unit is chosen after rounding, so a value that
// rounds up to 1024.0 of a unit is 1.0 of the next.
struct SizeFigure {
    std::uint64_t tenths = 0;
    SizeUnit unit = SizeUnit::kKB;
    bool operator==(const SizeFigure&) const = default;
};
SizeFigure ScaleBytes(std::uint64_t bytes);

// The time left of a run, from how much of its work is done: nothing for
// the first seconds and while the rate swings; then an estimate that
// follows the rate over the last seconds smoothly, counting down between
// changes of the rate, and never negative.
class TimeLeftEstimate {
public:
    // Nothing is shown before the run has gone this long.
    static constexpr double kFirstShownAfter = 3.0;
    // The rate is taken over this window of the latest samples.
    static constexpr double kRateWindow = 10.0;

    // A sample at `seconds` since the run began, with `done` of `total`
    // units of work (bytes, or entries). Samples come in time order. The
    // seconds left to show, or nothing yet.
    std::optional<std::uint64_t> Update(double seconds, std::uint64_t done, std::uint64_t total);

private:
    struct Sample {
        double seconds;
        std::uint64_t done;
    };
    // Work per second between the first and the last sample within
    // [from, to]; nothing when they are less than `minSpan` seconds apart.
    std::optional<double> RateBetween(double from, double to, double minSpan) const;
    std::optional<std::uint64_t> Shown() const;

    std::deque<Sample> samples_;
    std::optional<double> shown_;  // seconds left as last shown
    double shownAt_ = 0;
};

// Width of a piece of text, in whatever unit the caller measures lines in.
using TextWidth = std::function<int(std::u16string_view)>;

// `text` as it fits `maxWidth`: whole when it fits, else its start and its
// end joined by "…", keeping as much as fits and a little more of the end
// (where a path has its file name). Surrogate pairs stay whole. Just "…"
// when nothing more fits (even if "…" alone does not).
std::u16string ShortenMiddle(std::u16string_view text, int maxWidth, const TextWidth& width);
