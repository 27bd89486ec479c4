// The figures and texts the restore dialog shows about a run: the bar's
// position, sizes, the time left, middle-shortened paths, the Japanese
// reasons. Runs natively and under Wine alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

#include "platform/text.h"
#include "ui/run_figures.h"
#include "ui/run_text.h"

namespace {

std::string Utf8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

TEST(RunFigures, BarMovesByBytesAndReachesTheEndOnlyOnSuccess) {
    struct Case {
        const char* fault;
        RestoreProgress progress;
        bool succeeded;
        int position;
    };
    const Case cases[] = {
        {"nothing known yet", {0, 0, 0, 0}, false, 0},
        {"half the bytes, a tenth of the entries: by bytes", {1, 10, 500, 1000}, false, 5000},
        {"all bytes confirmed but no success yet: one short", {9, 10, 1000, 1000}, false, kBarRange - 1},
        {"success fills the bar", {10, 10, 1000, 1000}, true, kBarRange},
        {"success of an empty archive fills it", {0, 0, 0, 0}, true, kBarRange},
        {"no bytes at all: by entries", {1, 4, 0, 0}, false, 2500},
        {"more done than the total does not overflow the bar", {1, 1, 5000, 1000}, false, kBarRange - 1},
        {"totals past 2^64 / range don't overflow", {1, 2, 1ull << 63, ~0ull}, false, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(BarPosition(c.progress, c.succeeded), c.position);
    }
}

TEST(RunFigures, SizesScaleByBinaryUnitsWithOneDecimal) {
    struct Case {
        const char* fault;
        std::uint64_t bytes;
        SizeFigure figure;
        std::u16string text;
    };
    const Case cases[] = {
        {"zero", 0, {0, SizeUnit::kKB}, u"0.0 KB"},
        {"binary, not decimal thousands", 1000000, {9766, SizeUnit::kKB}, u"976.6 KB"},
        {"rounds to the nearest tenth, not down", 1126, {11, SizeUnit::kKB}, u"1.1 KB"},
        {"the largest KB figure stays KB", 1048473, {10239, SizeUnit::kKB}, u"1,023.9 KB"},
        {"rounding up to 1024.0 KB is 1.0 MB", 1048575, {10, SizeUnit::kMB}, u"1.0 MB"},
        {"gigabytes", 3ull << 29, {15, SizeUnit::kGB}, u"1.5 GB"},
        {"the largest count does not overflow", ~0ull, {167772160, SizeUnit::kTB}, u"16,777,216.0 TB"},
    };
    const NumberText numbers;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(ScaleBytes(c.bytes), c.figure);
        EXPECT_EQ(Utf8(SizeText(c.bytes, numbers)), Utf8(c.text));
    }
}

// A run sampled four times a second, as the dialog's timer does, with the
// work done so far given by `done` and the true seconds left by `truth`.
struct SampledRun {
    const char* fault;
    std::function<double(double)> done;   // units done at t
    std::function<double(double)> truth;  // true seconds left at t
    std::uint64_t total;
    double until;
};

struct Figure {
    double t;
    std::optional<std::uint64_t> shown;
};

std::vector<Figure> Sample(const SampledRun& run) {
    TimeLeftEstimate estimate;
    std::vector<Figure> figures;
    for (double t = 0; t <= run.until; t += 0.25) {
        const auto done = static_cast<std::uint64_t>(run.done(t));
        figures.push_back({t, estimate.Update(t, done, run.total)});
    }
    return figures;
}

TEST(TimeLeft, SteadyRateGivesTheTrueFigureCountingDown) {
    const SampledRun runs[] = {
        {"bytes at 40 MB/s", [](double t) { return 40e6 * t; }, [](double t) { return 120 - t; }, 4800000000, 110},
        {"entries, three a second", [](double t) { return 3 * t; }, [](double t) { return 200 - t; }, 600, 190},
        {"coarse steps: one entry every 0.7 s", [](double t) { return std::floor(t / 0.7); },
         [](double t) { return 70 - t; }, 100, 60},
    };
    for (const SampledRun& run : runs) {
        SCOPED_TRACE(run.fault);
        std::optional<std::uint64_t> previous;
        for (const Figure& f : Sample(run)) {
            if (f.t < TimeLeftEstimate::kFirstShownAfter) {
                EXPECT_FALSE(f.shown) << "a figure after " << f.t << " s";
                continue;
            }
            if (f.t >= 4.5) {
                ASSERT_TRUE(f.shown) << "still nothing at " << f.t << " s";
            }
            if (!f.shown) continue;
            const double truth = run.truth(f.t);
            EXPECT_NEAR(static_cast<double>(*f.shown), truth, 0.1 * truth + 2) << "at " << f.t << " s";
            if (previous) {
                EXPECT_LE(*f.shown, *previous) << "went up at " << f.t << " s";
            }
            previous = f.shown;
        }
    }
}

TEST(TimeLeft, ChangesOfRateMoveTheFigureWithoutJumps) {
    // 1000 units; the rate changes at 20 s.
    const auto piecewise = [](double before, double after, double stallFrom = 1e9, double stallTo = 1e9) {
        return [=](double t) {
            double done = before * std::min(t, 20.0) + after * std::max(0.0, std::min(t, stallFrom) - 20);
            if (t > stallTo) done += after * (t - stallTo);
            return done;
        };
    };
    struct Case {
        SampledRun run;
        double settledFrom;  // from here on the figure is near the truth
        bool stall;          // from 20 s to 30 s: the figure must not count down
    };
    const Case cases[] = {
        {{"rate halves", piecewise(10, 5), [](double t) { return t < 20 ? 0 : (800 - 5 * (t - 20)) / 5; }, 1000, 150},
         40, false},
        {{"rate doubles", piecewise(5, 10), [](double t) { return t < 20 ? 0 : (900 - 10 * (t - 20)) / 10; }, 1000, 100},
         32, false},
        {{"stall from 20 s to 30 s", piecewise(10, 10, 20, 30),
          [](double t) { return t < 30 ? 0 : (800 - 10 * (t - 30)) / 10; }, 1000, 100},
         48, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.run.fault);
        std::optional<std::uint64_t> previous, atStallStart;
        for (const Figure& f : Sample(c.run)) {
            if (!f.shown) {
                EXPECT_FALSE(previous && f.t < 100) << "the figure vanished at " << f.t << " s";
                continue;
            }
            EXPECT_LT(*f.shown, 100000u) << "wrapped or runaway figure at " << f.t << " s";
            if (previous) {
                // Counting down a quarter second, give or take a step of the
                // display, plus a bounded pull towards the new rate.
                const double change = static_cast<double>(*f.shown) - static_cast<double>(*previous);
                EXPECT_LE(std::abs(change), 0.15 * static_cast<double>(*previous) + 2) << "jumped at " << f.t << " s";
            }
            if (f.t == 20) atStallStart = f.shown;
            if (c.stall && f.t == 30) {
                ASSERT_TRUE(atStallStart);
                EXPECT_GE(*f.shown, *atStallStart) << "a stall was counted down";
            }
            if (f.t >= c.settledFrom) {
                const double truth = c.run.truth(f.t);
                EXPECT_NEAR(static_cast<double>(*f.shown), truth, 0.15 * truth + 2) << "at " << f.t << " s";
            }
            previous = f.shown;
        }
    }
}

TEST(TimeLeft, NoFigureWithoutASteadyRate) {
    const SampledRun runs[] = {
        {"nothing done at all", [](double) { return 0.0; }, nullptr, 1000, 30},
        {"one burst, then nothing", [](double t) { return t >= 3.5 ? 500.0 : 0.0; }, nullptr, 1000, 12},
        {"small files fast, then a large one ten times slower",
         [](double t) { return t < 2 ? 500 * t : 1000 + 50 * (t - 2); }, nullptr, 100000, 8},
        {"everything done from the start", [](double) { return 1000.0; }, nullptr, 1000, 10},
    };
    for (const SampledRun& run : runs) {
        SCOPED_TRACE(run.fault);
        for (const Figure& f : Sample(run)) EXPECT_FALSE(f.shown) << "a figure at " << f.t << " s";
    }
    // Done before the last confirmation: zero, not a figure wrapped past 2^64.
    TimeLeftEstimate estimate;
    std::optional<std::uint64_t> last;
    for (double t = 0; t <= 10; t += 0.25) last = estimate.Update(t, static_cast<std::uint64_t>(t * 100), 1000);
    ASSERT_TRUE(last);
    last = estimate.Update(10.25, 1200, 1000);
    EXPECT_EQ(last, 0u);
}

TEST(RunText, TimeLeftAndDurationAreRoundedForAGlance) {
    struct Case {
        const char* fault;
        std::function<std::u16string()> text;
        std::u16string expected;
    };
    const Case cases[] = {
        {"a few seconds", [] { return TimeLeftText(4); }, u"残り 数秒"},
        {"seconds round up to fives", [] { return TimeLeftText(6); }, u"残り 約 10 秒"},
        {"minutes round up, never down to a promise too short", [] { return TimeLeftText(61); }, u"残り 約 2 分"},
        {"an hour", [] { return TimeLeftText(3600); }, u"残り 約 1 時間"},
        {"past an hour, to five minutes", [] { return TimeLeftText(3601); }, u"残り 約 1 時間 5 分"},
        {"under a second", [] { return DurationText(0.4); }, u"1 秒未満"},
        {"to the nearest second", [] { return DurationText(59.6); }, u"1 分 0 秒"},
        {"hours and minutes", [] { return DurationText(3 * 3600 + 12 * 60 + 40); }, u"3 時間 12 分"},
        {"default grouping", [] { return NumberText().Whole(1234567); }, u"1,234,567"},
        {"a tenth under one", [] { return NumberText().Tenths(5); }, u"0.5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(c.text()), Utf8(c.expected));
    }
}

TEST(RunText, EveryReasonTheEngineReportsHasItsOwnText) {
    const std::u16string entryFallback = EntryReasonText(RestoreFailure{});
    const std::u16string extractFallback = ExtractReasonText(ExtractFailure::kNone);
    std::set<std::u16string> seen;
    for (int r = 1; r <= static_cast<int>(EntryFailure::kAccessDenied); ++r) {
        RestoreFailure failure;
        failure.reason = static_cast<EntryFailure>(r);
        if (failure.reason == EntryFailure::kExtractFailed) continue;  // worded by its ExtractFailure
        const std::u16string text = EntryReasonText(failure);
        SCOPED_TRACE("entry reason " + std::to_string(r) + ": " + Utf8(text));
        EXPECT_NE(text, entryFallback) << "a reason without a text of its own";
        seen.insert(text);
    }
    for (int e = 1; e <= static_cast<int>(ExtractFailure::kEncrypted); ++e) {
        RestoreFailure failure;
        failure.reason = EntryFailure::kExtractFailed;
        failure.extractFailure = static_cast<ExtractFailure>(e);
        const std::u16string text = EntryReasonText(failure);
        SCOPED_TRACE("extraction reason " + std::to_string(e) + ": " + Utf8(text));
        EXPECT_NE(text, extractFallback) << "a reason without a text of its own";
        seen.insert(text);
    }
    // The run's own codes, and the two causes of -6.
    const RestoreFailure none;
    for (const std::u16string& text : {FailedText(RESTORE_OPEN_FAILED, none, true),
                                       FailedText(RESTORE_COUNT_FAILED, none, true),
                                       FailedText(RESTORE_NO_ARCHIVE, none, false),
                                       FailedText(RESTORE_NO_ARCHIVE, none, true)}) {
        SCOPED_TRACE(Utf8(text));
        EXPECT_NE(text, FailedText(-7, none, true)) << "a run code worded as unexpected";
        seen.insert(text);
    }
    // Two layers word an unsafe name and a long path alike; every other
    // reason reads differently from all the rest.
    const std::size_t reasons = (static_cast<int>(EntryFailure::kAccessDenied) - 1) +
                                static_cast<int>(ExtractFailure::kEncrypted) + 4;
    EXPECT_EQ(seen.size(), reasons - 2);
}

// Full-width characters count two, others one, as a monospaced line would.
int CellWidth(std::u16string_view text) {
    int width = 0;
    for (char16_t c : text) width += c >= 0x3000 && c < 0xD800 ? 2 : (c >= 0xDC00 && c <= 0xDFFF ? 0 : 1);
    return width;
}

TEST(RunFigures, LongPathsAreShortenedInTheMiddleToFit) {
    struct Case {
        const char* fault;
        std::u16string text;
        int maxWidth;
        std::u16string shown;  // empty: only the general checks
    };
    const std::u16string deep = u"Photos\\2024\\very-long-folder-name\\another-level\\IMG_0042.JPG";
    const std::u16string emoji = u"a\\\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600\\b.txt";
    const Case cases[] = {
        {"a text that fits stays whole", u"Photos\\a.jpg", 40, u"Photos\\a.jpg"},
        {"one unit over: shortened", u"123456", 5, u"1…456"},
        {"a deep path keeps its start and its file name", deep, 30, u""},
        {"full-width names are measured by width, not units", u"写真フォルダ\\とても長いフォルダ名\\画像.jpg", 24, u""},
        {"a surrogate pair is never split", emoji, 9, u""},
        {"no room: just the ellipsis", deep, 1, u"…"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::u16string shown = ShortenMiddle(c.text, c.maxWidth, &CellWidth);
        if (!c.shown.empty()) {
            EXPECT_EQ(Utf8(shown), Utf8(c.shown));
        }
        if (shown == c.text) continue;
        const std::size_t cut = shown.find(u'…');
        ASSERT_NE(cut, std::u16string::npos) << Utf8(shown);
        EXPECT_LE(CellWidth(shown), std::max(c.maxWidth, 1)) << Utf8(shown);
        // What is kept is the text's own start and end, and the room is used.
        EXPECT_EQ(c.text.compare(0, cut, shown, 0, cut), 0) << Utf8(shown);
        const std::size_t tail = shown.size() - cut - 1;
        EXPECT_EQ(c.text.compare(c.text.size() - tail, tail, shown, cut + 1, tail), 0) << Utf8(shown);
        if (c.maxWidth > 4) {
            EXPECT_GE(CellWidth(shown), c.maxWidth - 2) << "room left unused: " << Utf8(shown);
        }
        // Each side of the cut holds whole pairs only: the text's own.
        EXPECT_EQ(platform::Utf8ToUtf16(Utf8(shown)), shown) << "a lone surrogate";
    }
}

}  // namespace
