// The question before a restore and its list of newer files: every label,
// radio button and check box whole on one line at each DPI a Japanese
// Windows is set to and in each of its UI fonts, measured the way Windows
// lays the template out there (as the restore dialog's own labels are
// measured); the counts at their widest figures, and the outcome's counts
// on the restore dialog's entry line.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "ui/entry_tree_view.h"
#include "ui/restore_decision.h"
#include "ui/run_text.h"

namespace {

struct Item {
    DWORD style = 0;
    short cx = 0, cy = 0;
    int id = 0;
    WORD classOrdinal = 0;  // 0x0080 button, 0x0082 static
    std::u16string text;
};

// The items of an extended dialog template linked into this program.
std::vector<Item> TemplateItems(int id) {
    std::vector<Item> items;
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    if (!found) return items;
    const auto* base = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    const BYTE* p = base;
    const auto word = [&] {
        WORD v;
        std::memcpy(&v, p, 2);
        p += 2;
        return v;
    };
    const auto dword = [&] {
        DWORD v;
        std::memcpy(&v, p, 4);
        p += 4;
        return v;
    };
    const auto string = [&] {
        std::u16string s;
        for (WORD c = word(); c != 0; c = word()) s.push_back(static_cast<char16_t>(c));
        return s;
    };
    const auto nameOrOrdinal = [&](WORD* ordinal) {
        WORD first;
        std::memcpy(&first, p, 2);
        if (first == 0xFFFF) {
            p += 2;
            const WORD v = word();
            if (ordinal) *ordinal = v;
            return std::u16string();
        }
        return string();
    };
    if (word() != 1 || word() != 0xFFFF) return items;
    dword();
    dword();
    dword();
    const WORD count = word();
    for (int i = 0; i < 4; ++i) word();
    nameOrOrdinal(nullptr);
    nameOrOrdinal(nullptr);
    string();
    word();
    word();
    word();
    string();
    for (WORD i = 0; i < count; ++i) {
        while ((p - base) % 4 != 0) ++p;
        Item item;
        dword();
        dword();
        item.style = dword();
        word();
        word();
        item.cx = static_cast<short>(word());
        item.cy = static_cast<short>(word());
        item.id = static_cast<int>(static_cast<LONG>(dword()));
        nameOrOrdinal(&item.classOrdinal);
        item.text = nameOrOrdinal(nullptr);
        p += word();
        items.push_back(item);
    }
    return items;
}

// The template font (9 points) at one DPI and the base units Windows
// derives from it.
class DpiFont {
public:
    DpiFont(const wchar_t* face, int dpi) : dc_(::CreateCompatibleDC(nullptr)) {
        LOGFONTW lf{};
        lf.lfHeight = -::MulDiv(9, dpi, 72);
        lf.lfCharSet = SHIFTJIS_CHARSET;
        wcscpy_s(lf.lfFaceName, face);
        font_ = ::CreateFontIndirectW(&lf);
        old_ = ::SelectObject(dc_, font_);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc_, &metrics);
        baseY_ = metrics.tmHeight;
        SIZE letters{};
        ::GetTextExtentPoint32W(dc_, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
        baseX_ = (letters.cx / 26 + 1) / 2;
        dpi_ = dpi;
    }
    ~DpiFont() {
        ::SelectObject(dc_, old_);
        ::DeleteObject(font_);
        ::DeleteDC(dc_);
    }
    DpiFont(const DpiFont&) = delete;
    DpiFont& operator=(const DpiFont&) = delete;
    int Width(short units) const { return ::MulDiv(units, baseX_, 4); }
    int Height(short units) const { return ::MulDiv(units, baseY_, 8); }
    SIZE Measure(const std::u16string& text) const {
        RECT r{0, 0, 0, 0};
        ::DrawTextW(dc_, W(text), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        return {r.right, r.bottom};
    }
    // A radio button's or check box's mark and the gap after it.
    int MarkWidth() const { return ::MulDiv(13 + 4, dpi_, 96); }

private:
    HDC dc_;
    HFONT font_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int baseX_ = 0, baseY_ = 0, dpi_ = 96;
};

// The widest texts each counts' line shows: six-digit counts.
std::vector<std::u16string> WidestTexts(int id) {
    StandingCounts widest;
    widest.made = widest.replaced = widest.newer = widest.identical = 888888;
    const DecisionTexts t = DecisionTextsFor(widest, NumberText());
    switch (id) {
    case IDC_DECISION_MADE: return {t.made};
    case IDC_DECISION_REPLACED: return {t.replaced};
    case IDC_DECISION_NEWER: return {t.newer};
    case IDC_DECISION_IDENTICAL: return {t.identical};
    case IDC_RUN_ENTRY: return {OutcomeCountsText(888888, 888888, 888888, NumberText())};
    default: return {};
    }
}

TEST(DecisionLabelFit, EveryTextFitsOnOneLineAtEachDpiAndFont) {
    for (int templateId : {IDD_RESTORE_DECISION, IDD_NEWER_FILES, IDD_VANTREL_DIALOG}) {
        const std::vector<Item> items = TemplateItems(templateId);
        ASSERT_FALSE(items.empty()) << templateId;
        for (const wchar_t* face : {L"MS UI Gothic", L"Yu Gothic UI", L"Meiryo"}) {
            for (int dpi : {96, 120, 144, 192}) {
                SCOPED_TRACE(std::to_string(templateId) + ", " + platform::Utf16ToUtf8(U16(face)) + ", " +
                             std::to_string(dpi) + " DPI");
                const DpiFont font(face, dpi);
                int measured = 0;
                for (const Item& item : items) {
                    if (!(item.style & WS_VISIBLE)) continue;
                    const DWORD kind = item.style & 0x0F;
                    const bool mark = item.classOrdinal == 0x0080 &&
                                      (kind == BS_AUTORADIOBUTTON || kind == BS_AUTOCHECKBOX);
                    const bool push = item.classOrdinal == 0x0080 && !mark;
                    const bool label = item.classOrdinal == 0x0082;
                    if (!mark && !push && !label) continue;
                    // The restore dialog's own labels are measured elsewhere;
                    // here only the line the outcome's counts go to.
                    if (templateId == IDD_VANTREL_DIALOG && item.id != IDC_RUN_ENTRY) continue;
                    std::vector<std::u16string> texts = WidestTexts(item.id);
                    if (texts.empty()) texts = {item.text};
                    for (const std::u16string& text : texts) {
                        if (text.empty()) continue;
                        ++measured;
                        const SIZE need = font.Measure(text);
                        // A push button keeps a few pixels of edge each side.
                        const int extra = mark ? font.MarkWidth() : push ? ::MulDiv(8, dpi, 96) : 0;
                        EXPECT_LE(need.cx + extra, font.Width(item.cx)) << "too narrow: " << platform::Utf16ToUtf8(text);
                        EXPECT_LE(need.cy, font.Height(item.cy)) << "too low: " << platform::Utf16ToUtf8(text);
                    }
                }
                EXPECT_GT(measured, 0);
            }
        }
    }
}

TEST(DecisionLabelFit, TheTreesCountFitsItsColumnAtEachDpiAndFont) {
    const NumberText numbers;
    const std::u16string widest = ChosenText(888888, 1023ull << 40, numbers);  // "1,023.0 TB"
    for (const wchar_t* face : {L"MS UI Gothic", L"Yu Gothic UI", L"Meiryo"}) {
        for (int dpi : {96, 120, 144, 192}) {
            SCOPED_TRACE(std::to_string(dpi) + " DPI");
            const DpiFont font(face, dpi);
            EXPECT_LE(font.Measure(widest).cx, font.Width(kEntryTreeWidthUnits));
            EXPECT_LE(font.Measure(widest).cy, font.Height(10));
        }
    }
}

}  // namespace
