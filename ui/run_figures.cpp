// Figures of a run for the dialog (see run_figures.h).

#include "ui/run_figures.h"

#include <algorithm>
#include <cmath>

namespace {

// How fast the shown time left follows a new estimate: it covers about two
// thirds of the way in this many seconds, so one slow buffer moves it a
// little and a rate that has really changed moves it within a few seconds.
constexpr double kFollowSeconds = 2.0;
// The rate counts as steady when the older and the newer half of the window
// differ by less than this factor; until then no figure is shown at all.
constexpr double kSteadyFactor = 2.0;
// A rate is taken over at least this many seconds of samples.
constexpr double kMinRateSpan = 2.0;
// An estimate this much above the figure (and 2 s) raises it, and by at
// most this share per second.
constexpr double kRiseThreshold = 1.1;
constexpr double kMaxRisePerSecond = 0.05;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

int BarPosition(const RestoreProgress& progress, bool succeeded) {
    if (succeeded) return kBarRange;
    std::uint64_t done = progress.bytesDone;
    std::uint64_t total = progress.bytesTotal;
    if (total == 0) {
        done = progress.entriesDone > 0 ? static_cast<std::uint64_t>(progress.entriesDone) : 0;
        total = progress.entriesTotal > 0 ? static_cast<std::uint64_t>(progress.entriesTotal) : 0;
    }
    if (total == 0) return 0;
    done = std::min(done, total);
    // Divided first where a product could pass 2^64.
    const std::uint64_t position = total > (UINT64_MAX / kBarRange) ? done / (total / kBarRange)
                                                                   : done * kBarRange / total;
    return static_cast<int>(std::min<std::uint64_t>(position, kBarRange - 1));
}

SizeFigure ScaleBytes(std::uint64_t bytes) {
    // Tenths of a KB, rounded half up; each further unit divides by 1024
    // with the same rounding applied to the tenths.
    SizeFigure figure;
    figure.tenths = bytes / 1024 * 10 + (bytes % 1024 * 10 + 512) / 1024;
    for (SizeUnit next : {SizeUnit::kMB, SizeUnit::kGB, SizeUnit::kTB}) {
        if (figure.tenths < 1024 * 10) break;
        figure.tenths = (figure.tenths + 512) / 1024;
        figure.unit = next;
    }
    return figure;
}

std::optional<double> TimeLeftEstimate::RateBetween(double from, double to, double minSpan) const {
    const Sample* first = nullptr;
    const Sample* last = nullptr;
    for (const Sample& s : samples_) {
        if (s.seconds < from || s.seconds > to) continue;
        if (!first) first = &s;
        last = &s;
    }
    if (!first || last->seconds - first->seconds < minSpan) return std::nullopt;
    return static_cast<double>(last->done - first->done) / (last->seconds - first->seconds);
}

std::optional<std::uint64_t> TimeLeftEstimate::Shown() const {
    if (!shown_) return std::nullopt;
    return static_cast<std::uint64_t>(std::ceil(*shown_));
}

std::optional<std::uint64_t> TimeLeftEstimate::Update(double seconds, std::uint64_t done, std::uint64_t total) {
    // A sample out of order tells nothing new.
    if (!samples_.empty() && (seconds <= samples_.back().seconds || done < samples_.back().done)) return Shown();
    samples_.push_back({seconds, done});
    while (samples_.size() > 2 && samples_.front().seconds < seconds - kRateWindow) samples_.pop_front();

    const std::uint64_t left = total > done ? total - done : 0;
    if (left == 0) {
        // The work is done; what remains (closing, the last confirmations)
        // takes no time worth a figure.
        if (shown_) shown_ = 0.0;
        return Shown();
    }
    if (seconds < kFirstShownAfter) return std::nullopt;

    const double windowStart = samples_.front().seconds;
    const std::optional<double> rate = RateBetween(windowStart, seconds, kMinRateSpan);
    if (!shown_) {
        // The first figure waits for a rate that holds across the window.
        const double middle = (windowStart + seconds) / 2;
        const std::optional<double> older = RateBetween(windowStart, middle, kMinRateSpan / 4);
        const std::optional<double> newer = RateBetween(middle, seconds, kMinRateSpan / 4);
        if (!rate || !older || !newer || *older <= 0 || *newer <= 0) return std::nullopt;
        if (std::max(*older, *newer) > kSteadyFactor * std::min(*older, *newer)) return std::nullopt;
        shown_ = static_cast<double>(left) / *rate;
        shownAt_ = seconds;
        return Shown();
    }

    // Counting down from what was shown, drawn towards the new estimate:
    // down at once, up only when the estimate is clearly above (a rate that
    // wavers by a few percent must not make the figure go back up) and
    // then no faster than kMaxRisePerSecond. A stall (nothing done over
    // the whole window) holds the figure: counting on to zero would end in
    // a jump back up once the work goes on.
    const double elapsed = seconds - shownAt_;
    shownAt_ = seconds;
    if (!rate || *rate <= 0) return Shown();
    const double predicted = std::max(0.0, *shown_ - elapsed);
    double target = static_cast<double>(left) / *rate;
    if (target > predicted && target <= predicted * kRiseThreshold + 2.0) target = predicted;
    const double pull = 1.0 - std::exp(-elapsed / kFollowSeconds);
    const double highest = predicted * std::exp(kMaxRisePerSecond * elapsed) + elapsed;
    shown_ = std::clamp(predicted + (target - predicted) * pull, 0.0, highest);
    return Shown();
}

std::u16string ShortenMiddle(std::u16string_view text, int maxWidth, const TextWidth& width) {
    if (width(text) <= maxWidth) return std::u16string(text);
    static constexpr char16_t kEllipsis[] = u"…";
    // Cut points that never split a surrogate pair.
    const auto headEnd = [&](std::size_t n) {
        if (n > 0 && n < text.size() && IsHighSurrogate(text[n - 1]) && IsLowSurrogate(text[n])) --n;
        return n;
    };
    const auto tailStart = [&](std::size_t n) {
        std::size_t start = text.size() - n;
        if (start > 0 && start < text.size() && IsLowSurrogate(text[start]) && IsHighSurrogate(text[start - 1]))
            ++start;
        return start;
    };
    const auto joined = [&](std::size_t keep) {
        // Of `keep` units kept, two fifths from the start, the rest from the end.
        const std::size_t head = headEnd(keep * 2 / 5);
        const std::size_t tail = tailStart(keep - keep * 2 / 5);
        std::u16string out(text.substr(0, head));
        out += kEllipsis;
        out += text.substr(tail);
        return out;
    };
    // The most units kept that still fit: the width grows with what is kept.
    std::size_t low = 0, high = text.size() - 1;
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        if (width(joined(mid)) <= maxWidth) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    return low == 0 ? std::u16string(kEllipsis) : joined(low);
}
