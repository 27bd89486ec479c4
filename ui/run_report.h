#pragma once
// What the restore dialog offers after a run that did not restore
// everything, and what it reports after the run it then starts. A run that
// failed at an entry, or that the user stopped, can be finished from where
// the archive and the folder stand: the same archive into the same folder,
// going on past entries that fail and leaving alone every file that already
// holds its entry. That run hears every entry it could not restore; the
// dialog lists them and can save the list as a text file Notepad reads
// (UTF-8 with a byte-order mark, CRLF line ends).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "restore/restore.h"
#include "ui/run_text.h"

// The next step a run's end offers.
enum class FollowUp {
    kNone,         // nothing to finish: success, or a failure before the first entry
    kRestoreRest,  // a run that failed at an entry: "残りを復元"
    kContinue,     // a run the user stopped: "続きから復元"
};

FollowUp FollowUpAfter(int resultCode, const RestoreFailure& failure);
// The button's label; empty for kNone.
std::u16string FollowUpLabel(FollowUp followUp);

// The follow-up run's choices: those of the run it follows, going on past
// failures and leaving alone what is restored already. Any entry choice
// points at the same set as `first`'s.
RestoreChoices FollowUpChoices(const RestoreChoices& first);

// What a follow-up run did, as its observer heard it.
struct RunReport {
    std::int32_t total = 0;    // entries the run was to restore
    std::int32_t inPlace = 0;  // confirmed: written, kept, or found already restored
    std::vector<RestoreFailure> failures;  // in catalogue order
    bool stopped = false;      // the user stopped the run before its end
};

// Hears a run for its report and passes every call on to `inner` (the
// dialog), so that the dialog sees the run as it sees any other. The
// report is written on the run's thread; read it only once the run has
// told `inner` it finished, which it does after its last entry.
class ReportingObserver final : public RestoreObserver {
public:
    explicit ReportingObserver(RestoreObserver* inner) : inner_(inner) {}

    void OnRestoreStarted() override;
    void OnRestoreFinished(int resultCode) override;
    void OnRestoreProgress(const RestoreProgress& progress) override;
    void OnEntryStarted(std::int32_t index, const std::u16string& name) override;
    void OnEntryDone(std::int32_t index, EntryOutcome outcome) override;
    void OnEntryFailed(const RestoreFailure& failure) override;
    bool WantsByteTotal() const override;

    // The report once the run has ended with `resultCode` and `failure`
    // (the job's): a stop is told by them, not by an entry. None when the
    // run ended before its entries (the archive gone or unreadable): it has
    // nothing to report about them.
    std::optional<RunReport> Report(int resultCode, const RestoreFailure& failure) const;

private:
    RestoreObserver* inner_;
    RunReport report_;
};

// "12 項目中 10 項目を復元しました。", "12 項目をすべて復元しました。", or after
// a stop the stopped line of run_text.h.
std::u16string ReportSummary(const RunReport& report, const NumberText& numbers);
// "復元できなかった 2 項目：" above the list; empty when none failed.
std::u16string ReportHeading(const RunReport& report, const NumberText& numbers);
// One line per entry not restored, "path：reason", in catalogue order; after
// a stop one more line for the entries the run did not reach.
std::vector<std::u16string> ReportLines(const RunReport& report, const NumberText& numbers);

// The saved file: which archive into which folder, the summary, the
// heading and the lines; UTF-8 with a byte-order mark, every line ended by
// CRLF.
std::string ReportFileBytes(const RunReport& report, const std::u16string& archivePath,
                            const std::u16string& destination, const NumberText& numbers);
// Writes those bytes to `path` (created or replaced). False when the file
// could not be made or written whole.
bool SaveReportFile(const std::u16string& path, const std::string& bytes);

// Texts of the follow-up part of the dialog.
namespace reporttext {
inline constexpr char16_t kSaveButton[] = u"一覧を保存...";
inline constexpr char16_t kSaveFilter[] = u"テキストファイル (*.txt)|*.txt||";
inline constexpr char16_t kSaveFileName[] = u"復元できなかった項目.txt";
inline constexpr char16_t kSaveFailed[] = u"一覧を保存できませんでした。";
}  // namespace reporttext
