// The restore dialog's view of a run (see run_view.h).

#include "ui/run_view.h"

#include <commctrl.h>

#include <vector>

#include "platform/wide.h"
#include "res/resource.h"
#include "ui/restore_decision.h"

namespace {

// A window's device context with the window's own font selected, given
// back on every way out.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(::GetDC(window)) {
        if (!dc_) return;
        if (HFONT font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0)))
            oldFont_ = ::SelectObject(dc_, font);
    }
    ~WindowDc() {
        if (!dc_) return;
        if (oldFont_) ::SelectObject(dc_, oldFont_);
        ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
    HGDIOBJ oldFont_ = nullptr;
};

std::u16string LocaleText(LCTYPE type, const char16_t* fallback) {
    wchar_t text[16] = {};
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, text, 16) <= 0) return fallback;
    return U16(text);
}

UINT LocaleNumber(LCTYPE type, UINT fallback) {
    DWORD value = 0;
    if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&value),
                          sizeof(value) / sizeof(wchar_t)) <= 0)
        return fallback;
    return value;
}

// LOCALE_SGROUPING ("3;0", "3;2;0", "3") in the form NUMBERFMTW takes (3,
// 32, 30): the group sizes as digits, a final 0 meaning "repeat the last".
UINT GroupingValue(const std::u16string& grouping) {
    std::vector<UINT> sizes;
    UINT current = 0;
    bool any = false;
    for (char16_t c : grouping) {
        if (c >= u'0' && c <= u'9') {
            current = current * 10 + (c - u'0');
            any = true;
        } else if (c == u';') {
            sizes.push_back(current);
            current = 0;
            any = false;
        }
    }
    if (any) sizes.push_back(current);
    if (sizes.empty()) return 3;
    UINT value = 0;
    const bool repeats = sizes.size() > 1 && sizes.back() == 0;
    if (repeats) sizes.pop_back();
    for (UINT size : sizes) value = value * 10 + size;
    return repeats ? value : value * 10;
}

}  // namespace

UserNumberText::UserNumberText()
    : decimal_(LocaleText(LOCALE_SDECIMAL, u".")),
      thousand_(LocaleText(LOCALE_STHOUSAND, u",")),
      groupingValue_(GroupingValue(LocaleText(LOCALE_SGROUPING, u"3;0"))),
      leadingZero_(LocaleNumber(LOCALE_ILZERO, 1)),
      negativeOrder_(LocaleNumber(LOCALE_INEGNUMBER, 1)) {}

std::u16string UserNumberText::Format(const std::u16string& digits, UINT decimals) const {
    NUMBERFMTW format{};
    format.NumDigits = decimals;
    format.LeadingZero = leadingZero_;
    format.Grouping = groupingValue_;
    format.lpDecimalSep = const_cast<wchar_t*>(W(decimal_));
    format.lpThousandSep = const_cast<wchar_t*>(W(thousand_));
    format.NegativeOrder = negativeOrder_;
    wchar_t text[64] = {};
    const int length = ::GetNumberFormatEx(LOCALE_NAME_USER_DEFAULT, 0, W(digits), &format, text, 64);
    if (length <= 1) return {};
    return U16(text, static_cast<std::size_t>(length - 1));
}

std::u16string UserNumberText::Whole(std::uint64_t value) const {
    const std::u16string formatted = Format(Digits(value), 0);
    return formatted.empty() ? NumberText::Whole(value) : formatted;
}

std::u16string UserNumberText::Tenths(std::uint64_t tenths) const {
    // GetNumberFormatEx reads its input with "." as the decimal mark,
    // whatever the locale's.
    const std::u16string formatted = Format(Digits(tenths / 10) + u"." + Digits(tenths % 10), 1);
    return formatted.empty() ? NumberText::Tenths(tenths) : formatted;
}

void RunView::Attach(HWND dialog) {
    dialog_ = dialog;
    ::SendDlgItemMessageW(dialog_, IDC_RUN_PROGRESS, PBM_SETRANGE32, 0, kBarRange);
    Reset();
}

void RunView::Reset() {
    SetMarquee(false);
    barPosition_ = 0;
    SetBar(0, PBST_NORMAL);
    SetStatus({});
    SetEntry({});
    ::EnableWindow(::GetDlgItem(dialog_, IDC_RUN_STOP), FALSE);
}

void RunView::Started() {
    Reset();
    timeLeft_ = TimeLeftEstimate();
    start_ = std::chrono::steady_clock::now();
    SetStatus(RunningText(RestoreProgress{}, std::nullopt, numbers_));
    ::EnableWindow(::GetDlgItem(dialog_, IDC_RUN_STOP), TRUE);
}

double RunView::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void RunView::Update(const RestoreProgress& progress, const std::u16string& entryName) {
    // The time left goes by bytes where the run has a byte total, as the
    // bar does; an archive of empty files by entries.
    const bool byBytes = progress.bytesTotal > 0;
    const auto entries = [](std::int32_t n) { return static_cast<std::uint64_t>(n > 0 ? n : 0); };
    const std::optional<std::uint64_t> left =
        byBytes ? timeLeft_.Update(Elapsed(), progress.bytesDone, progress.bytesTotal)
                : timeLeft_.Update(Elapsed(), entries(progress.entriesDone), entries(progress.entriesTotal));
    SetBar(BarPosition(progress, false), PBST_NORMAL);
    SetStatus(RunningText(progress, left, numbers_));
    SetEntry(EntryPathText(entryName));
}

void RunView::Planning() {
    Reset();
    // How long the look takes is not known: the bar moves without a figure.
    SetMarquee(true);
    SetStatus(dlgtext::kPlanning);
    ::EnableWindow(::GetDlgItem(dialog_, IDC_RUN_STOP), TRUE);
}

void RunView::Stopping() {
    SetStatus(StoppingText());
    ::EnableWindow(::GetDlgItem(dialog_, IDC_RUN_STOP), FALSE);
}

void RunView::Finished(int resultCode, const RestoreFailure& failure, const RestoreProgress& last,
                       bool archiveExists, const std::u16string& archivePath, const std::u16string& destination) {
    ::EnableWindow(::GetDlgItem(dialog_, IDC_RUN_STOP), FALSE);
    if (resultCode == RESTORE_OK) {
        SetBar(kBarRange, PBST_NORMAL);
        SetStatus(SucceededText(last, Elapsed(), numbers_));
        SetEntry({});
        return;
    }
    if (RunWasStopped(resultCode, failure)) {
        SetBar(BarPosition(last, false), PBST_PAUSED);
        SetStatus(StoppedText(failure.entryIndex, last.entriesTotal, numbers_));
        SetEntry({});
        return;
    }
    SetBar(BarPosition(last, false), PBST_ERROR);
    SetStatus(FailedText(resultCode, failure, archiveExists));
    // The entry that failed; failures before the first entry concern the
    // archive itself, or the destination that could not be made.
    if (resultCode == RESTORE_ENTRY_FAILED) {
        SetEntry(EntryPathText(failure.entryName));
    } else if (resultCode == RESTORE_NO_ARCHIVE && archiveExists) {
        SetEntry(destination);
    } else {
        SetEntry(archivePath);
    }
}

void RunView::SetMarquee(bool on) {
    HWND bar = ::GetDlgItem(dialog_, IDC_RUN_PROGRESS);
    const LONG_PTR style = ::GetWindowLongPtrW(bar, GWL_STYLE);
    if (((style & PBS_MARQUEE) != 0) == on) return;
    if (!on) ::SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    ::SetWindowLongPtrW(bar, GWL_STYLE, on ? style | PBS_MARQUEE : style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
    if (on) ::SendMessageW(bar, PBM_SETMARQUEE, TRUE, 30);
}

void RunView::SetBar(int position, int state) {
    HWND bar = ::GetDlgItem(dialog_, IDC_RUN_PROGRESS);
    // Within a run the bar only moves on; Reset starts it from zero again.
    if (position < barPosition_) position = barPosition_;
    barPosition_ = position;
    ::SendMessageW(bar, PBM_SETSTATE, static_cast<WPARAM>(state), 0);
    ::SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void RunView::SetStatus(const std::u16string& text) {
    // Unchanged text is not set again: a static repaints (and flickers)
    // on every WM_SETTEXT.
    if (text == status_) return;
    status_ = text;
    ::SetWindowTextW(::GetDlgItem(dialog_, IDC_RUN_STATUS), W(status_));
}

void RunView::SetEntry(const std::u16string& text) {
    HWND line = ::GetDlgItem(dialog_, IDC_RUN_ENTRY);
    std::u16string shown = text;
    if (!text.empty() && line) {
        RECT client{};
        ::GetClientRect(line, &client);
        WindowDc dc(line);
        if (dc.get()) {
            shown = ShortenMiddle(text, client.right - client.left, [&](std::u16string_view piece) {
                SIZE size{};
                ::GetTextExtentPoint32W(dc.get(), reinterpret_cast<const wchar_t*>(piece.data()),
                                        static_cast<int>(piece.size()), &size);
                return static_cast<int>(size.cx);
            });
        }
    }
    if (shown == entry_) return;
    entry_ = shown;
    ::SetWindowTextW(line, W(entry_));
}
