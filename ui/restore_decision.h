#pragma once
// The step before a restore writes anything, where something already
// stands at the entries' paths: what a plan of the restore found there
// (how many entries are new, how many files would be replaced, how many of
// those are newer than the backup's, how many hold their entry already),
// in the dialog's Japanese, and the user's answer turned into the engine's
// choices. Plain logic: the dialog's window (restore_decision_win32.cpp)
// only shows it and passes the answer back.

#include <cstdint>
#include <string>
#include <vector>

#include "restore/plan.h"
#include "restore/restore.h"
#include "ui/run_text.h"

// The choices the plan is made with: replace (as the run does without a
// decision) and identical files told apart, so that one plan gives every
// figure the question shows. `entries` as in RestoreChoices.
RestoreChoices PlanningChoices(const std::vector<bool>* entries);

// What the plan found at the entries' paths.
struct StandingCounts {
    std::int32_t entries = 0;    // entries planned
    std::int32_t made = 0;       // nothing stands at their path
    std::int32_t replaced = 0;   // something else stands there and would be replaced
    std::int32_t newer = 0;      // of those, written after the backup's entry
    std::int32_t identical = 0;  // a file there holds the entry already
    std::int32_t folders = 0;    // folder entries whose folder stands already
    std::int32_t refused = 0;    // the restore would stop at the first of these
    std::vector<std::u16string> newerNames;  // entry names, catalogue order
};
StandingCounts CountWhatStands(const std::vector<PlannedEntry>& plan);

// Whether the user is asked: a file stands at some entry's path. Folders
// that stand already are only filled; where nothing stands the restore
// goes on as it always did.
bool AsksAboutWhatStands(const StandingCounts& counts);

enum class ExistingAnswer {
    kReplace,    // replace what stands there (what a restore always did)
    kKeepNewer,  // keep files written after the backup's entry
    kKeepAll,    // keep everything that stands there
};

struct RestoreDecision {
    ExistingAnswer answer = ExistingAnswer::kReplace;
    // Leave files that hold their entry already as they are: the same bytes
    // and time either way, and a restore again takes seconds.
    bool skipIdentical = true;
};

// The engine's choices for an answer, the same the console takes for
// --existing=replace|newer|keep and --skip-identical.
RestoreChoices ChoicesFor(const RestoreDecision& decision, const std::vector<bool>* entries);

// Texts of the question.
namespace dlgtext {
inline constexpr char16_t kDecisionTitle[] = u"復元先にあるファイル";
inline constexpr char16_t kDecisionHeading[] = u"復元先に同じ名前のファイルがあります。";
inline constexpr char16_t kAnswerReplace[] = u"すべて置き換える";
inline constexpr char16_t kAnswerKeepNewer[] = u"バックアップより新しいファイルは残す";
inline constexpr char16_t kAnswerKeepAll[] = u"既にあるファイルはすべて残す";
inline constexpr char16_t kSkipIdentical[] = u"内容が同じファイルはそのままにする";
inline constexpr char16_t kShowNewer[] = u"一覧...";
inline constexpr char16_t kDecisionRestore[] = u"復元";
inline constexpr char16_t kDecisionCancel[] = u"キャンセル";
inline constexpr char16_t kNewerListTitle[] = u"バックアップより新しいファイル";
inline constexpr char16_t kPlanning[] = u"復元先を確認しています…";
}  // namespace dlgtext

struct DecisionTexts {
    std::u16string made;       // "新しく復元する項目：1,234"
    std::u16string replaced;   // "置き換わるファイル：30"
    std::u16string newer;      // "うちバックアップより新しいもの：4"
    std::u16string identical;  // "内容が同じファイル：50"
    std::vector<std::u16string> newerPaths;  // as paths below the destination
};
DecisionTexts DecisionTextsFor(const StandingCounts& counts, const NumberText& numbers);

// After a run that followed the question:
// "復元した項目：12　残した項目：3　内容が同じ項目：40".
std::u16string OutcomeCountsText(std::int32_t restored, std::int32_t kept, std::int32_t identical,
                                 const NumberText& numbers);
