// The restore dialog's next step after a run that did not restore
// everything (see follow_up_view.h).

#include "ui/follow_up_view.h"

#include <algorithm>
#include <utility>

#include "platform/wide.h"
#include "res/resource.h"
#include "ui/framework.h"

namespace {

using namespace followuplayout;

RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// The list as the edit control shows it: one entry a line.
std::u16string ListText(const std::vector<std::u16string>& lines) {
    std::u16string text;
    for (const std::u16string& line : lines) {
        if (!text.empty()) text += u"\r\n";
        text += line;
    }
    return text;
}

}  // namespace

void FollowUpView::Attach(HWND dialog) {
    dialog_ = dialog;
    // The template leaves some space below the entry line; the rows go
    // there and the same space stays below the last one.
    RECT client{};
    ::GetClientRect(dialog_, &client);
    const RECT entry = ClientRectOf(dialog_, ::GetDlgItem(dialog_, IDC_RUN_ENTRY));
    ownMargin_ = std::max<int>(client.bottom - entry.bottom, 0);
    eightUnits_ = Units(8, true);
}

int FollowUpView::OwnMargin() const {
    const int eight = Units(8, true);
    return eight == eightUnits_ || eightUnits_ <= 0 ? ownMargin_ : ::MulDiv(ownMargin_, eight, eightUnits_);
}

int FollowUpView::Units(int units, bool vertical) const {
    RECT r{0, 0, units, units};
    ::MapDialogRect(dialog_, &r);
    return vertical ? r.bottom : r.right;
}

HWND FollowUpView::Make(int id, const wchar_t* windowClass, DWORD style, DWORD exStyle) {
    HWND control = ::CreateWindowExW(exStyle, windowClass, L"", WS_CHILD | style, 0, 0, 0, 0, dialog_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ::GetModuleHandleW(nullptr),
                                     nullptr);
    // The dialog's own font; on a change of DPI the dialog manager sends
    // its new one to every child, these included.
    ::SendMessageW(control, WM_SETFONT, ::SendMessageW(dialog_, WM_GETFONT, 0, 0), FALSE);
    return control;
}

void FollowUpView::Reset() {
    offered_ = FollowUp::kNone;
    report_.reset();
    Layout();
}

void FollowUpView::RunStarting(const RestoreJob& job) {
    followUpRunning_ = recorder_ && job.observer == recorder_.get();
    Reset();
}

std::unique_ptr<RestoreJob> FollowUpView::MakeFollowUpJob(const RestoreJob& last, RestoreObserver* dialog) {
    auto job = std::make_unique<RestoreJob>();
    // The last run's own copies: the select and clear buttons may have
    // changed the dialog's fields since.
    job->destinationFolder = last.destinationFolder;
    job->archivePath = last.archivePath;
    job->choices = FollowUpChoices(last.choices);
    recorder_ = std::make_unique<ReportingObserver>(dialog);
    job->observer = recorder_.get();
    return job;
}

void FollowUpView::RunEnded(int resultCode, const RestoreJob& job) {
    offered_ = FollowUpAfter(resultCode, job.failure);
    report_.reset();
    if (std::exchange(followUpRunning_, false) && recorder_) {
        report_ = recorder_->Report(resultCode, job.failure);
        archivePath_ = job.archivePath;
        destination_ = job.destinationFolder;
    }
    Layout();
}

void FollowUpView::Place(HWND control, int x, int y, int width, int height, bool shown) {
    if (!shown && ::IsWindowVisible(control) && ::GetFocus() == control) {
        // A control that goes must not take the keyboard with it.
        ::SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(dialog_, IDC_RESTORE)), TRUE);
    }
    ::SetWindowPos(control, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(control, shown ? SW_SHOWNA : SW_HIDE);
}

void FollowUpView::Layout() {
    if (!dialog_) return;
    const bool summary = report_.has_value();
    const std::u16string heading = report_ ? ReportHeading(*report_, numbers_) : std::u16string();
    const bool list = !heading.empty();
    const bool button = Offered();
    if (!button_) {
        // Nothing to show and nothing made: the dialog stays as its
        // template made it.
        if (!summary && !button) return;
        // Made in tab order: the list, then the two buttons.
        summary_ = Make(IDC_REPORT_SUMMARY, L"STATIC", SS_LEFT | SS_NOPREFIX | SS_ENDELLIPSIS, 0);
        heading_ = Make(IDC_REPORT_HEADING, L"STATIC", SS_LEFT | SS_NOPREFIX, 0);
        list_ = Make(IDC_REPORT_LIST, L"EDIT",
                     ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL |
                         WS_TABSTOP,
                     WS_EX_CLIENTEDGE);
        // The edit's own limit applies to typing only, but a long list
        // should not meet it in any form.
        ::SendMessageW(list_, EM_SETLIMITTEXT, 0, 0);
        save_ = Make(IDC_SAVE_REPORT, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0);
        ::SetWindowTextW(save_, W(std::u16string(reporttext::kSaveButton)));
        button_ = Make(IDC_FOLLOW_UP, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0);
    }
    ::SetWindowTextW(summary_, W(summary ? ReportSummary(*report_, numbers_) : std::u16string()));
    ::SetWindowTextW(heading_, W(heading));
    ::SetWindowTextW(list_, W(list ? ListText(ReportLines(*report_, numbers_)) : std::u16string()));
    ::SetWindowTextW(button_, W(FollowUpLabel(offered_)));

    const int left = Units(kLeft, false);
    const int width = Units(kRight, false) - left;
    const int line = Units(kLineHeight, true);
    const int lineGap = Units(kLineGap, true);
    // Below the entry line, and below the list of backups where the
    // dialog shows one there.
    int bottom = ClientRectOf(dialog_, ::GetDlgItem(dialog_, IDC_RUN_ENTRY)).bottom;
    if (HWND backups = ::GetDlgItem(dialog_, IDC_BACKUP_LIST); backups && ::IsWindowVisible(backups))
        bottom = std::max<int>(bottom, ClientRectOf(dialog_, backups).bottom);
    int y = bottom + Units(kGap, true);
    Place(summary_, left, y, width, line, summary);
    if (summary) {
        bottom = y + line;
        y = bottom + lineGap;
    }
    Place(heading_, left, y, width, line, list);
    const int listTop = y + line + lineGap;
    Place(list_, left, listTop, width, Units(kListHeight, true), list);
    if (list) {
        bottom = listTop + Units(kListHeight, true);
        y = bottom + Units(kButtonGap, true);
    }
    // The buttons end at the right edge, the follow-up rightmost.
    const int buttonWidth = Units(kButtonWidth, false);
    const int buttonHeight = Units(kButtonHeight, true);
    int right = Units(kRight, false);
    Place(button_, right - buttonWidth, y, buttonWidth, buttonHeight, button);
    if (button) right -= buttonWidth + Units(kButtonGap, false);
    Place(save_, right - buttonWidth, y, buttonWidth, buttonHeight, list);
    if (button || list) bottom = y + buttonHeight;

    // The dialog grows or shrinks to its rows, its own margin below them,
    // and stays on its monitor's work area; with none on view it goes back
    // to the height it had before they came.
    RECT client{}, window{};
    ::GetClientRect(dialog_, &client);
    ::GetWindowRect(dialog_, &window);
    const bool rows = summary || list || button;
    if (rows && heightBefore_ == 0) heightBefore_ = window.bottom - window.top;
    if (!rows && heightBefore_ == 0) return;
    const int height = rows ? (window.bottom - window.top) + (bottom + OwnMargin() - client.bottom) : heightBefore_;
    if (!rows) heightBefore_ = 0;
    int top = window.top;
    MONITORINFO monitor{sizeof(monitor)};
    if (::GetMonitorInfoW(::MonitorFromWindow(dialog_, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const int overflow = top + height - monitor.rcWork.bottom;
        if (overflow > 0) top = std::max<int>(monitor.rcWork.top, top - overflow);
    }
    ::SetWindowPos(dialog_, nullptr, window.left, top, window.right - window.left, height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
}

void FollowUpView::SaveReport(UserPrompts& prompts) {
    if (!report_) return;
    std::u16string path;
    if (!prompts.SaveFile(dialog_, reporttext::kSaveFilter, reporttext::kSaveFileName, path)) return;
    if (!SaveReportFile(path, ReportFileBytes(*report_, archivePath_, destination_, numbers_)))
        prompts.ShowMessage(dialog_, reporttext::kSaveFailed, AppTitle(), MB_OK | MB_ICONEXCLAMATION);
}
