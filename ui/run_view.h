#pragma once
// The restore dialog's view of a run, below its restore button: a bar, a
// status line, the entry the run is on, and the stop button. It moves the
// figures of run_figures.h and the texts of run_text.h into those controls
// and holds nothing the run needs; the dialog tells it what happened.
// UI thread only.

#include <windows.h>

#include <chrono>
#include <string>

#include "restore/restore.h"
#include "ui/run_figures.h"
#include "ui/run_text.h"

// Numbers in the format of the user's locale (GetNumberFormatEx): digit
// grouping and decimal mark as the user set them, never their digit count.
class UserNumberText final : public NumberText {
public:
    UserNumberText();
    std::u16string Whole(std::uint64_t value) const override;
    std::u16string Tenths(std::uint64_t tenths) const override;

private:
    std::u16string Format(const std::u16string& digits, UINT decimals) const;

    std::u16string decimal_, thousand_;
    UINT groupingValue_ = 3;
    UINT leadingZero_ = 1;
    UINT negativeOrder_ = 1;
};

class RunView {
public:
    // The view's controls are the dialog's (template 102); call once the
    // dialog window exists.
    void Attach(HWND dialog);

    // Nothing run yet, or a new archive chosen: an empty bar, no texts,
    // the stop button disabled.
    void Reset();
    // A run has begun: the clock starts and the stop button is enabled.
    void Started();
    // The latest figures of the running run and the entry it is on.
    void Update(const RestoreProgress& progress, const std::u16string& entryName);
    // The user asked to stop: the run ends at its next buffer.
    void Stopping();
    // Before a run: what stands at the entries' paths is being looked at;
    // the stop button gives that up.
    void Planning();
    // After the result box: what the run did with each entry, on the
    // entry's line.
    void ShowOutcome(const std::u16string& text) { SetEntry(text); }
    // The run has ended. The texts stay until the next Reset. `archivePath`
    // and `destination` are the run's, for failures that name no entry.
    void Finished(int resultCode, const RestoreFailure& failure, const RestoreProgress& last, bool archiveExists,
                  const std::u16string& archivePath, const std::u16string& destination);

private:
    double Elapsed() const;
    void SetBar(int position, int state);
    // The bar moving on its own, for work of unknown length, or not.
    void SetMarquee(bool on);
    void SetStatus(const std::u16string& text);
    // The entry line, shortened in the middle to the control's width.
    void SetEntry(const std::u16string& text);

    HWND dialog_ = nullptr;
    UserNumberText numbers_;
    TimeLeftEstimate timeLeft_;
    std::chrono::steady_clock::time_point start_;
    int barPosition_ = 0;  // the bar never goes back within a run
    std::u16string status_, entry_;
};
