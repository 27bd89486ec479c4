#pragma once
// The restore dialog's next step after a run that did not restore
// everything, below the run's entry line: the button that finishes the
// run ("残りを復元" after a failure at an entry, "続きから復元" after a stop),
// and after that run how many entries stand restored, every entry that is
// not, with its reason, in a list the user can scroll and copy, and a
// button that saves the list. The decisions and texts are run_report.h's;
// this only shows them. Its controls are made the first time they are
// needed, and the dialog grows by the rows shown and shrinks back when
// there are none. UI thread only.

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "restore/restore.h"
#include "ui/run_report.h"
#include "ui/run_view.h"
#include "ui/user_prompts.h"

// Where the view's controls go, in dialog units: x and width as they are;
// rows one below the other from the run's entry line down.
namespace followuplayout {
inline constexpr int kLeft = 13;
inline constexpr int kRight = 304;  // the right edge of the run's lines
inline constexpr int kGap = 6;      // from the entry line to the first row
inline constexpr int kLineHeight = 10;
inline constexpr int kLineGap = 2;
inline constexpr int kListHeight = 64;
inline constexpr int kButtonWidth = 82;
inline constexpr int kButtonHeight = 16;
inline constexpr int kButtonGap = 6;
}  // namespace followuplayout

class FollowUpView {
public:
    // `dialog` is the restore dialog, its template's controls made.
    void Attach(HWND dialog);

    // Another archive chosen: nothing is offered any more, and the dialog
    // is back to its own size.
    void Reset();
    // A run starts (`job` is its job): the last run's offer and report go.
    void RunStarting(const RestoreJob& job);
    // The run's end has been shown to the user: what it leaves to do, and
    // after a follow-up run its report.
    void RunEnded(int resultCode, const RestoreJob& job);

    // True while the follow-up button is on offer.
    bool Offered() const noexcept { return offered_ != FollowUp::kNone; }
    // The follow-up of the run `last`: the same archive into the same
    // folder, with FollowUpChoices. Its observer is this view's recorder,
    // which passes every call on to `dialog`. Call only when no worker
    // still runs with the job of an earlier follow-up.
    std::unique_ptr<RestoreJob> MakeFollowUpJob(const RestoreJob& last, RestoreObserver* dialog);

    // Asks for a file name and saves the report there; says so when it
    // could not.
    void SaveReport(UserPrompts& prompts);

private:
    HWND Make(int id, const wchar_t* windowClass, DWORD style, DWORD exStyle);
    void Layout();
    void Place(HWND control, int x, int y, int width, int height, bool shown);
    int Units(int units, bool vertical) const;
    int OwnMargin() const;

    HWND dialog_ = nullptr;
    HWND button_ = nullptr, summary_ = nullptr, heading_ = nullptr, list_ = nullptr, save_ = nullptr;
    // The dialog's own space below the entry line, in pixels, and eight
    // vertical dialog units in pixels then (to follow a change of DPI).
    int ownMargin_ = 0;
    // The dialog's window height before these rows first made it grow (0:
    // they take no room now): what it goes back to when they go.
    int heightBefore_ = 0;
    int eightUnits_ = 0;
    UserNumberText numbers_;
    FollowUp offered_ = FollowUp::kNone;
    std::unique_ptr<ReportingObserver> recorder_;
    bool followUpRunning_ = false;
    std::optional<RunReport> report_;
    std::u16string archivePath_, destination_;  // the reported run's
};
