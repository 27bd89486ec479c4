// The decision before a restore writes (see restore_decision.h).

#include "ui/restore_decision.h"

#include <algorithm>
#include <initializer_list>

namespace {

std::u16string Join(std::initializer_list<std::u16string_view> pieces) {
    std::u16string text;
    for (std::u16string_view piece : pieces) text += piece;
    return text;
}

std::uint64_t Count(std::int32_t n) { return static_cast<std::uint64_t>(std::max<std::int32_t>(n, 0)); }

}  // namespace

RestoreChoices PlanningChoices(const std::vector<bool>* entries) {
    RestoreChoices choices;
    choices.entries = entries;
    choices.existing = ExistingPolicy::kReplace;
    choices.skipIdentical = true;
    return choices;
}

StandingCounts CountWhatStands(const std::vector<PlannedEntry>& plan) {
    StandingCounts counts;
    for (const PlannedEntry& e : plan) {
        ++counts.entries;
        switch (e.kind) {
        case PlanKind::kNew: ++counts.made; break;
        case PlanKind::kReplace:
            ++counts.replaced;
            if (e.newerThere) {
                ++counts.newer;
                counts.newerNames.push_back(e.name);
            }
            break;
        case PlanKind::kIdentical: ++counts.identical; break;
        // Planned with replace, only a folder that stands is kept.
        case PlanKind::kKeep: ++counts.folders; break;
        case PlanKind::kRefused: ++counts.refused; break;
        }
    }
    return counts;
}

bool AsksAboutWhatStands(const StandingCounts& counts) { return counts.replaced > 0 || counts.identical > 0; }

RestoreChoices ChoicesFor(const RestoreDecision& decision, const std::vector<bool>* entries) {
    RestoreChoices choices;
    choices.entries = entries;
    switch (decision.answer) {
    case ExistingAnswer::kReplace: choices.existing = ExistingPolicy::kReplace; break;
    case ExistingAnswer::kKeepNewer: choices.existing = ExistingPolicy::kNewer; break;
    case ExistingAnswer::kKeepAll: choices.existing = ExistingPolicy::kKeep; break;
    }
    choices.skipIdentical = decision.skipIdentical;
    return choices;
}

DecisionTexts DecisionTextsFor(const StandingCounts& counts, const NumberText& numbers) {
    DecisionTexts texts;
    texts.made = Join({u"新しく復元する項目：", numbers.Whole(Count(counts.made))});
    texts.replaced = Join({u"置き換わるファイル：", numbers.Whole(Count(counts.replaced))});
    texts.newer = Join({u"うちバックアップより新しいもの：", numbers.Whole(Count(counts.newer))});
    texts.identical = Join({u"内容が同じファイル：", numbers.Whole(Count(counts.identical))});
    for (const std::u16string& name : counts.newerNames) texts.newerPaths.push_back(EntryPathText(name));
    return texts;
}

std::u16string OutcomeCountsText(std::int32_t restored, std::int32_t kept, std::int32_t identical,
                                 const NumberText& numbers) {
    return Join({u"復元した項目：", numbers.Whole(Count(restored)), u"　残した項目：", numbers.Whole(Count(kept)),
                 u"　内容が同じ項目：", numbers.Whole(Count(identical))});
}
