// The follow-up of a run that did not restore everything (see run_report.h).

#include "ui/run_report.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "platform/file.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace {

// Pieces joined in one string (GCC 12 warns falsely on a literal added to
// a temporary string, so no chains of +).
std::u16string Join(std::initializer_list<std::u16string_view> pieces) {
    std::u16string text;
    for (std::u16string_view piece : pieces) text += piece;
    return text;
}

std::uint64_t Count(std::int64_t n) { return static_cast<std::uint64_t>(std::max<std::int64_t>(n, 0)); }

// Entries confirmed neither restored nor failed: those a stopped run did
// not reach.
std::int64_t NotReached(const RunReport& report) {
    if (!report.stopped) return 0;
    return std::int64_t{report.total} - report.inPlace - static_cast<std::int64_t>(report.failures.size());
}

// An entry as the list names it. A record the catalogue could not give
// has no name; its place in the archive tells it from the others.
std::u16string EntryLabel(const RestoreFailure& failure, const NumberText& numbers) {
    if (!failure.entryName.empty()) return EntryPathText(failure.entryName);
    return Join({u"（", numbers.Whole(Count(std::int64_t{failure.entryIndex} + 1)), u" 番目の項目）"});
}

}  // namespace

FollowUp FollowUpAfter(int resultCode, const RestoreFailure& failure) {
    // Other failures come before the first entry (no archive, not a ZIP
    // archive, no count): a second run would meet them again.
    if (resultCode != RESTORE_ENTRY_FAILED) return FollowUp::kNone;
    return RunWasStopped(resultCode, failure) ? FollowUp::kContinue : FollowUp::kRestoreRest;
}

std::u16string FollowUpLabel(FollowUp followUp) {
    switch (followUp) {
    case FollowUp::kRestoreRest: return u"残りを復元";
    case FollowUp::kContinue: return u"続きから復元";
    case FollowUp::kNone: break;
    }
    return {};
}

RestoreChoices FollowUpChoices(const RestoreChoices& first) {
    RestoreChoices choices = first;
    choices.keepGoing = true;
    // What the first run restored is found identical and stays untouched,
    // whatever the policy for what stands at a path says.
    choices.skipIdentical = true;
    return choices;
}

void ReportingObserver::OnRestoreStarted() { inner_->OnRestoreStarted(); }

void ReportingObserver::OnRestoreFinished(int resultCode) { inner_->OnRestoreFinished(resultCode); }

void ReportingObserver::OnRestoreProgress(const RestoreProgress& progress) {
    // The run's first report carries the total, before any entry.
    report_.total = progress.entriesTotal;
    inner_->OnRestoreProgress(progress);
}

void ReportingObserver::OnEntryStarted(std::int32_t index, const std::u16string& name) {
    inner_->OnEntryStarted(index, name);
}

void ReportingObserver::OnEntryDone(std::int32_t index, EntryOutcome outcome) {
    ++report_.inPlace;
    inner_->OnEntryDone(index, outcome);
}

void ReportingObserver::OnEntryFailed(const RestoreFailure& failure) {
    report_.failures.push_back(failure);
    inner_->OnEntryFailed(failure);
}

bool ReportingObserver::WantsByteTotal() const { return inner_->WantsByteTotal(); }

std::optional<RunReport> ReportingObserver::Report(int resultCode, const RestoreFailure& failure) const {
    if (resultCode != RESTORE_OK && resultCode != RESTORE_ENTRY_FAILED) return std::nullopt;
    RunReport report = report_;
    report.stopped = RunWasStopped(resultCode, failure);
    return report;
}

std::u16string ReportSummary(const RunReport& report, const NumberText& numbers) {
    if (report.stopped) return StoppedText(report.inPlace, report.total, numbers);
    if (report.failures.empty() && report.inPlace == report.total)
        return Join({numbers.Whole(Count(report.total)), u" 項目をすべて復元しました。"});
    return Join({numbers.Whole(Count(report.total)), u" 項目中 ", numbers.Whole(Count(report.inPlace)),
                 u" 項目を復元しました。"});
}

std::u16string ReportHeading(const RunReport& report, const NumberText& numbers) {
    const std::int64_t missing = static_cast<std::int64_t>(report.failures.size()) + NotReached(report);
    if (missing <= 0) return {};
    return Join({u"復元できなかった ", numbers.Whole(Count(missing)), u" 項目："});
}

std::vector<std::u16string> ReportLines(const RunReport& report, const NumberText& numbers) {
    std::vector<std::u16string> lines;
    lines.reserve(report.failures.size() + 1);
    for (const RestoreFailure& failure : report.failures)
        lines.push_back(Join({EntryLabel(failure, numbers), u"：", EntryReasonText(failure)}));
    if (const std::int64_t left = NotReached(report); left > 0)
        lines.push_back(Join({u"（ほかの ", numbers.Whole(Count(left)), u" 項目は、中止したため復元していません）"}));
    return lines;
}

std::string ReportFileBytes(const RunReport& report, const std::u16string& archivePath,
                            const std::u16string& destination, const NumberText& numbers) {
    std::vector<std::u16string> lines = {
        Join({u"バックアップファイル：", archivePath}),
        Join({u"復元先フォルダ：", destination}),
        ReportSummary(report, numbers),
    };
    if (std::u16string heading = ReportHeading(report, numbers); !heading.empty()) {
        lines.push_back(std::move(heading));
        for (std::u16string& line : ReportLines(report, numbers)) lines.push_back(std::move(line));
    }
    // Notepad before Windows 10 reads a file without the mark in the ANSI
    // code page, and shows a file of bare LF line ends as one line.
    std::string bytes = "\xEF\xBB\xBF";
    for (const std::u16string& line : lines) {
        bytes += platform::Utf16ToUtf8(line);
        bytes += "\r\n";
    }
    return bytes;
}

bool SaveReportFile(const std::u16string& path, const std::string& bytes) {
    platform::File file = platform::File::CreateAlways(path, platform::kAttributeNormal);
    if (!file.IsOpen()) return false;
    const bool written = file.Write(bytes.data(), bytes.size());
    // A close that fails may have lost data: that is no saved list.
    return file.Close() && written;
}
