// Every text of the restore dialog and the About box fits its rectangle on
// one line, at each DPI a Japanese Windows is set to and in each of its UI
// fonts. Each DPI is measured the way Windows lays a template out there:
// the dialog font made at that DPI's pixel height, the template's dialog
// units converted with that font's base units, the text measured with
// DrawTextW(DT_CALCRECT). So no change of Wine's own DPI is needed.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/wide.h"
#include "res/resource.h"
#include "restore/restore.h"
#include "ui/run_text.h"

namespace {

struct TemplateItem {
    DWORD style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    WORD classOrdinal = 0;  // 0x0082 for a static; 0 when named
    std::u16string text;
};

struct DialogTemplate {
    WORD pointSize = 0;
    WORD weight = 0;
    BYTE charset = 0;
    std::u16string face;
    std::vector<TemplateItem> items;
};

// Reads an extended dialog template (DLGTEMPLATEEX and its items) from
// this program's resources, where the test links the real .rc.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}
    WORD Word() {
        WORD v;
        std::memcpy(&v, p_, 2);
        p_ += 2;
        return v;
    }
    DWORD Dword() {
        DWORD v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    std::u16string String() {
        std::u16string s;
        for (WORD c = Word(); c != 0; c = Word()) s.push_back(static_cast<char16_t>(c));
        return s;
    }
    // A name or an ordinal (0xFFFF and one word); `ordinal` gets the latter.
    std::u16string NameOrOrdinal(WORD* ordinal = nullptr) {
        WORD first;
        std::memcpy(&first, p_, 2);
        if (first == 0xFFFF) {
            p_ += 2;
            const WORD value = Word();
            if (ordinal) *ordinal = value;
            return {};
        }
        return String();
    }
    void Skip(std::size_t bytes) { p_ += bytes; }
    void AlignToDword(const BYTE* base) {
        while ((p_ - base) % 4 != 0) ++p_;
    }

private:
    const BYTE* p_;
};

bool LoadTemplate(int id, DialogTemplate& out) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
    if (!found) return false;
    const auto* base = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    TemplateReader r(base);
    if (r.Word() != 1 || r.Word() != 0xFFFF) return false;  // DLGTEMPLATEEX only
    r.Dword();                                               // help id
    r.Dword();                                               // extended style
    const DWORD style = r.Dword();
    const WORD count = r.Word();
    for (int i = 0; i < 4; ++i) r.Word();  // x, y, cx, cy
    r.NameOrOrdinal();                     // menu
    r.NameOrOrdinal();                     // class
    r.String();                            // title
    if (!(style & DS_SETFONT)) return false;
    out.pointSize = r.Word();
    out.weight = r.Word();
    const WORD italicAndCharset = r.Word();
    out.charset = static_cast<BYTE>(italicAndCharset >> 8);
    out.face = r.String();
    for (WORD i = 0; i < count; ++i) {
        r.AlignToDword(base);
        TemplateItem item;
        r.Dword();  // help id
        r.Dword();  // extended style
        item.style = r.Dword();
        item.x = static_cast<short>(r.Word());
        item.y = static_cast<short>(r.Word());
        item.cx = static_cast<short>(r.Word());
        item.cy = static_cast<short>(r.Word());
        item.id = static_cast<int>(static_cast<LONG>(r.Dword()));
        r.NameOrOrdinal(&item.classOrdinal);
        WORD titleOrdinal = 0;
        item.text = r.NameOrOrdinal(&titleOrdinal);
        const WORD extra = r.Word();
        r.Skip(extra);  // creation data
        out.items.push_back(item);
    }
    return true;
}

// The template's font at one DPI, with the base units Windows derives from
// it for dialog units: the average width of the 52 Latin letters, rounded
// as the dialog manager rounds it, and the character height.
class DpiFont {
public:
    DpiFont(const std::u16string& face, const DialogTemplate& t, int dpi) : dc_(::CreateCompatibleDC(nullptr)) {
        LOGFONTW lf{};
        lf.lfHeight = -::MulDiv(t.pointSize, dpi, 72);
        lf.lfWeight = t.weight;
        lf.lfCharSet = t.charset;
        face.copy(reinterpret_cast<char16_t*>(lf.lfFaceName), LF_FACESIZE - 1);
        font_ = ::CreateFontIndirectW(&lf);
        old_ = ::SelectObject(dc_, font_);
        TEXTMETRICW metrics{};
        ::GetTextMetricsW(dc_, &metrics);
        baseY_ = metrics.tmHeight;
        SIZE letters{};
        ::GetTextExtentPoint32W(dc_, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &letters);
        baseX_ = (letters.cx / 26 + 1) / 2;
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
    // The rectangle DrawTextW needs for `text` on one line.
    SIZE Measure(const std::u16string& text, bool noPrefix) const {
        RECT r{0, 0, 0, 0};
        UINT format = DT_CALCRECT | DT_SINGLELINE | DT_EXPANDTABS;
        if (noPrefix) format |= DT_NOPREFIX;
        ::DrawTextW(dc_, W(text), static_cast<int>(text.size()), &r, format);
        return {r.right - r.left, r.bottom - r.top};
    }
    // False when the font has no glyph for `c`: a face that Wine could not
    // map to a Japanese font would measure boxes, not the text.
    bool HasGlyph(char16_t c) const {
        WORD glyph = 0;
        const wchar_t wc = static_cast<wchar_t>(c);
        return ::GetGlyphIndicesW(dc_, &wc, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) == 1 && glyph != 0xFFFF;
    }

private:
    HDC dc_;
    HFONT font_ = nullptr;
    HGDIOBJ old_ = nullptr;
    int baseX_ = 0, baseY_ = 0;
};

// The longest texts the run's status line shows: every reason the engine
// reports, and the running line at the widest figures of a backup of up to
// a million entries and a petabyte. (Past that the line ends in "…".)
std::vector<std::u16string> LongestStatusTexts() {
    std::vector<std::u16string> texts;
    RestoreFailure failure;
    for (int r = 0; r <= static_cast<int>(EntryFailure::kAccessDenied); ++r) {
        failure.reason = static_cast<EntryFailure>(r);
        for (int e = 0; e <= static_cast<int>(ExtractFailure::kEncrypted); ++e) {
            failure.extractFailure = static_cast<ExtractFailure>(e);
            texts.push_back(FailedText(RESTORE_ENTRY_FAILED, failure, true));
        }
    }
    for (int code : {RESTORE_OPEN_FAILED, RESTORE_COUNT_FAILED, RESTORE_NO_ARCHIVE, -7})
        for (bool exists : {false, true}) texts.push_back(FailedText(code, failure, exists));
    const NumberText numbers;
    RestoreProgress widest;
    widest.entriesDone = widest.entriesTotal = 888888;
    widest.bytesDone = widest.bytesTotal = 1023ull << 40;  // "1,023.0 TB"
    texts.push_back(RunningText(widest, std::nullopt, numbers));
    texts.push_back(RunningText(widest, 23 * 3600 + 55 * 60, numbers));
    texts.push_back(SucceededText(widest, 23 * 3600 + 59 * 60, numbers));
    texts.push_back(StoppedText(888888, 888888, numbers));
    return texts;
}

struct FontCase {
    const char* fault;
    const char16_t* face;  // empty: the template's own
};
const FontCase kFonts[] = {
    {"the template's font (MS UI Gothic)", u""},
    {"Yu Gothic UI, Windows 10's UI font", u"Yu Gothic UI"},
    {"Meiryo, tall lines", u"Meiryo"},
};
const int kDpis[] = {96, 120, 144, 192};

struct TemplateCase {
    const char* name;
    int id;
};
const TemplateCase kTemplates[] = {{"restore dialog", IDD_VANTREL_DIALOG}, {"About box", IDD_ABOUTBOX}};

TEST(LabelFit, EveryStaticTextFitsOnOneLineAtEachDpiAndFont) {
    for (const TemplateCase& t : kTemplates) {
        DialogTemplate dialog;
        ASSERT_TRUE(LoadTemplate(t.id, dialog)) << t.name;
        for (const FontCase& f : kFonts) {
            const std::u16string face = *f.face ? f.face : dialog.face;
            for (int dpi : kDpis) {
                SCOPED_TRACE(std::string(t.name) + ", " + f.fault + ", " + std::to_string(dpi) + " DPI");
                const DpiFont font(face, dialog, dpi);
                ASSERT_TRUE(font.HasGlyph(u'バ')) << "no Japanese font stands in for this face";
                int statics = 0;
                for (const TemplateItem& item : dialog.items) {
                    const bool isStatic = item.classOrdinal == 0x0082;
                    const DWORD type = item.style & SS_TYPEMASK;
                    if (!isStatic || !(item.style & WS_VISIBLE) || type == SS_ICON) continue;
                    ++statics;
                    std::vector<std::u16string> texts{item.text};
                    if (item.id == IDC_RUN_STATUS) texts = LongestStatusTexts();
                    for (const std::u16string& text : texts) {
                        const SIZE need = font.Measure(text, (item.style & SS_NOPREFIX) != 0);
                        EXPECT_LE(need.cx, font.Width(item.cx))
                            << "too narrow: " << platform::Utf16ToUtf8(text) << " at " << item.x << "," << item.y
                            << " needs " << (need.cx * 4.0 / font.Width(4)) << " units, has " << item.cx;
                        EXPECT_LE(need.cy, font.Height(item.cy)) << "too low: " << platform::Utf16ToUtf8(text);
                    }
                }
                EXPECT_GT(statics, 0) << "no static text was measured";
            }
        }
    }
}

}  // namespace
