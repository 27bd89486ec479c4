// The dialog's Japanese texts about a run (see run_text.h). Reasons say
// what the user can check or do, in the words Windows itself uses for them
// (アクセスが拒否されました, ディスクの空き容量); a check users look up as it is
// named (CRC-32) keeps its name.

#include "ui/run_text.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "ui/run_figures.h"

namespace {


// Pieces joined in one string (GCC 12 warns falsely on a literal added to
// a temporary string, so no chains of +).
std::u16string Join(std::initializer_list<std::u16string_view> pieces) {
    std::u16string text;
    for (std::u16string_view piece : pieces) text += piece;
    return text;
}

std::uint64_t Count(std::int32_t n) { return static_cast<std::uint64_t>(std::max<std::int32_t>(n, 0)); }

const char16_t* UnitText(SizeUnit unit) {
    switch (unit) {
    case SizeUnit::kKB: return u"KB";
    case SizeUnit::kMB: return u"MB";
    case SizeUnit::kGB: return u"GB";
    case SizeUnit::kTB: return u"TB";
    }
    return u"";
}

// Reasons that more than one layer reports.
constexpr char16_t kUnsafeName[] = u"名前が安全ではありません（復元先フォルダの外を指します）";
constexpr char16_t kPathTooLong[] = u"パスが長すぎます";

}  // namespace

std::u16string Digits(std::uint64_t value) {
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

std::u16string NumberText::Whole(std::uint64_t value) const {
    std::u16string digits = Digits(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, u',');
    return digits;
}

std::u16string NumberText::Tenths(std::uint64_t tenths) const {
    return Join({Whole(tenths / 10), u".", Digits(tenths % 10)});
}

std::u16string SizeText(std::uint64_t bytes, const NumberText& numbers) {
    const SizeFigure figure = ScaleBytes(bytes);
    return Join({numbers.Tenths(figure.tenths), u" ", UnitText(figure.unit)});
}

std::u16string TimeLeftText(std::uint64_t seconds) {
    if (seconds < 5) return u"残り 数秒";
    if (seconds < 60) return Join({u"残り 約 ", Digits((seconds + 4) / 5 * 5), u" 秒"});
    const std::uint64_t minutes = (seconds + 59) / 60;
    if (minutes < 60) return Join({u"残り 約 ", Digits(minutes), u" 分"});
    // Past an hour, to five minutes.
    const std::uint64_t fives = (minutes + 4) / 5 * 5;
    if (fives % 60 == 0) return Join({u"残り 約 ", Digits(fives / 60), u" 時間"});
    return Join({u"残り 約 ", Digits(fives / 60), u" 時間 ", Digits(fives % 60), u" 分"});
}

std::u16string DurationText(double seconds) {
    if (!(seconds >= 1.0)) return u"1 秒未満";
    const auto whole = static_cast<std::uint64_t>(std::llround(seconds));
    const std::uint64_t h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    if (h > 0) return Join({Digits(h), u" 時間 ", Digits(m), u" 分"});
    if (m > 0) return Join({Digits(m), u" 分 ", Digits(s), u" 秒"});
    return Join({Digits(s), u" 秒"});
}

std::u16string RunningText(const RestoreProgress& progress, std::optional<std::uint64_t> secondsLeft,
                           const NumberText& numbers) {
    std::u16string text =
        Join({numbers.Whole(Count(progress.entriesDone)), u" / ", numbers.Whole(Count(progress.entriesTotal)), u" 項目"});
    // An archive of folders and empty files has no bytes worth a figure.
    if (progress.bytesTotal > 0)
        text += Join({u"　", SizeText(progress.bytesDone, numbers), u" / ", SizeText(progress.bytesTotal, numbers)});
    text += u"　";
    text += secondsLeft ? TimeLeftText(*secondsLeft) : u"残り時間を計算中...";
    return text;
}

std::u16string StoppingText() { return u"中止しています..."; }

std::u16string SucceededText(const RestoreProgress& progress, double seconds, const NumberText& numbers) {
    return Join({numbers.Whole(Count(progress.entriesDone)), u" 項目（", SizeText(progress.bytesDone, numbers),
                 u"）を復元しました。所要時間 ", DurationText(seconds)});
}

bool RunWasStopped(int resultCode, const RestoreFailure& failure) {
    return resultCode == RESTORE_ENTRY_FAILED && failure.reason == EntryFailure::kInterrupted;
}

std::u16string StoppedText(std::int32_t restored, std::int32_t total, const NumberText& numbers) {
    return Join({u"中止しました。", numbers.Whole(Count(total)), u" 項目中 ", numbers.Whole(Count(restored)),
                 u" 項目を復元しました。"});
}

std::u16string ExtractReasonText(ExtractFailure failure) {
    switch (failure) {
    case ExtractFailure::kUnsafeName: return kUnsafeName;
    case ExtractFailure::kPathTooLong: return kPathTooLong;
    case ExtractFailure::kCreateFailed: return u"ファイルを作成できませんでした";
    case ExtractFailure::kOpenFailed: return u"項目の見出しが壊れているか、目録と一致しません";
    case ExtractFailure::kReadFailed: return u"バックアップファイルを読み取れません（途中で切れています）";
    case ExtractFailure::kWriteFailed: return u"ファイルの書き込みに失敗しました";
    case ExtractFailure::kDiskFull: return u"ディスクの空き容量が足りません";
    case ExtractFailure::kCorruptData: return u"圧縮データが壊れています";
    case ExtractFailure::kShortData: return u"データが途中で終わっています（壊れています）";
    case ExtractFailure::kCrcMismatch: return u"CRC-32 が一致しません（データが壊れています）";
    case ExtractFailure::kEncrypted: return u"暗号化された項目は復元できません";
    case ExtractFailure::kNone: break;
    }
    return u"展開に失敗しました";
}

std::u16string EntryReasonText(const RestoreFailure& failure) {
    switch (failure.reason) {
    case EntryFailure::kFetchFailed: return u"目録から項目を読み取れませんでした（壊れています）";
    case EntryFailure::kEmptyName: return u"名前のない項目です";
    case EntryFailure::kUnsafeName: return kUnsafeName;
    case EntryFailure::kPathTooLong: return kPathTooLong;
    case EntryFailure::kNameTooLong: return u"パスの中に長すぎる名前があります";
    case EntryFailure::kNotFound: return u"項目が名前で見つかりませんでした（目録が壊れています）";
    case EntryFailure::kNameMismatch: return u"大文字と小文字だけが違う名前の項目が先にあります";
    case EntryFailure::kDuplicateName: return u"同じ名前（同じファイルになる名前）の項目が先にあります";
    case EntryFailure::kFolderFailed: return u"途中のフォルダを作成できません（同名のファイルがあります）";
    case EntryFailure::kTargetInTheWay: return u"復元先にあるフォルダなどが邪魔で置き換えられません";
    case EntryFailure::kBadHandle: return u"バックアップファイルが開かれていません";
    case EntryFailure::kExtractFailed: return ExtractReasonText(failure.extractFailure);
    case EntryFailure::kNotReadable: return u"復元したファイルを読み返せませんでした";
    case EntryFailure::kInterrupted: return u"復元が中止されました";
    case EntryFailure::kFileInUse: return u"ファイルがほかのプログラムで使用中です";
    case EntryFailure::kAccessDenied: return u"アクセスが拒否されました（置き換える権限がありません）";
    case EntryFailure::kNone: break;
    }
    return u"原因のわからないエラーです";
}

std::u16string FailedText(int resultCode, const RestoreFailure& failure, bool archiveExists) {
    constexpr char16_t kLead[] = u"失敗：";
    switch (resultCode) {
    case RESTORE_OPEN_FAILED: return Join({kLead, u"バックアップファイルが ZIP 形式でないか、壊れています"});
    case RESTORE_COUNT_FAILED: return Join({kLead, u"バックアップファイルの項目数を読み取れません（壊れています）"});
    case RESTORE_ENTRY_FAILED: return Join({kLead, EntryReasonText(failure)});
    case RESTORE_NO_ARCHIVE:
        return Join({kLead, archiveExists ? u"復元先フォルダを作成できませんでした" : u"バックアップファイルが見つかりません"});
    default: break;
    }
    const std::u16string code =
        resultCode < 0 ? Join({u"-", Digits(0 - static_cast<std::uint64_t>(static_cast<std::int64_t>(resultCode)))})
                       : Digits(static_cast<std::uint64_t>(resultCode));
    return Join({kLead, u"予期しない結果です（コード ", code, u"）"});
}

std::u16string EntryPathText(std::u16string_view entryName) {
    std::u16string path(entryName);
    for (char16_t& c : path) {
        if (c == u'/') c = u'\\';
        if (c < 0x20 || c == 0x7F) c = u'?';
    }
    return path;
}
