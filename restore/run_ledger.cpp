// The committer's ledger: confirmation in catalogue order, and undo.

#include "restore/run_ledger.h"

#include <chrono>

#include "platform/fs.h"
#include "restore/run_meter.h"

void Ledger::Begin(std::int32_t index, std::uint64_t bytes) {
    Open entry;
    entry.index = index;
    entry.bytes = bytes;
    open_.push_back(std::move(entry));
}

void Ledger::PassOver() {
    if (open_.empty()) return;
    open_.back().state = State::kComplete;
    open_.back().counted = false;
}

void Ledger::MadeFolder(const std::u16string& path) {
    if (open_.empty()) return;
    const platform::PathIdentity made = platform::ReadPathIdentity(path);
    open_.back().made.push_back({path, true, made.exists && made.folder, made.identity});
    madeFolders_.insert(platform::NameKey(path));
}

void Ledger::MadeFile(const std::u16string& path) {
    if (!open_.empty()) open_.back().made.push_back({path, false, false, {}});
}

void Ledger::Complete(const platform::FileIdentity* identity, EntryOutcome outcome) {
    if (open_.empty()) return;
    Open& entry = open_.back();
    entry.state = State::kComplete;
    entry.outcome = outcome;
    if (identity) {
        entry.hasFile = true;
        entry.identity = *identity;
        restored_.insert(*identity);
    }
}

void Ledger::Keep(const platform::FileIdentity* standing, EntryOutcome outcome, const std::u16string& path) {
    if (open_.empty()) return;
    Open& entry = open_.back();
    entry.state = State::kComplete;
    entry.outcome = outcome;
    if (standing) {
        entry.claimed = true;
        entry.identity = *standing;
        entry.keptPath = platform::NameKey(path);
        keptPaths_.insert(entry.keptPath);
    }
}

void Ledger::Filling() {
    if (open_.empty()) return;
    open_.back().state = State::kFilling;
    ++filesFilling_;
}

void Ledger::Checking(const platform::FileIdentity& standing, const std::u16string& path) {
    if (open_.empty()) return;
    Open& entry = open_.back();
    entry.state = State::kFilling;
    entry.checking = true;
    entry.claimed = true;
    entry.identity = standing;
    entry.keptPath = platform::NameKey(path);
    entry.outcome = EntryOutcome::kIdentical;
    keptPaths_.insert(entry.keptPath);
}

Ledger::Open* Ledger::Find(std::int32_t index) {
    // Entries are started in order and confirmed from the front, so the
    // open ones are consecutive.
    if (open_.empty() || index < open_.front().index) return nullptr;
    const auto offset = static_cast<std::size_t>(index - open_.front().index);
    return offset < open_.size() ? &open_[offset] : nullptr;
}

void Ledger::FillFinished(std::int32_t index, bool ok, const platform::FileIdentity& identity) {
    Open* entry = Find(index);
    if (!entry || entry->state != State::kFilling) return;
    if (entry->checking) {
        // What stood there is the entry's, or it is not identical and the
        // run takes the entry up again itself.
        entry->state = ok ? State::kComplete : State::kFailed;
        return;
    }
    --filesFilling_;
    if (!ok) {
        entry->state = State::kFailed;
        return;
    }
    entry->state = State::kComplete;
    entry->hasFile = true;
    entry->identity = identity;
    restored_.insert(identity);
}

void Ledger::Failed(std::int32_t index, const RestoreFailure& why, unsigned busyWaitMs) {
    if (open_.empty() || open_.back().index != index) Begin(index, 0);
    Open& entry = open_.back();
    for (auto it = entry.made.rbegin(); it != entry.made.rend(); ++it) {
        if (!it->folder) continue;
        if (it->known) platform::RemoveIfMade(it->path, it->identity, true, busyWaitMs);
        madeFolders_.erase(platform::NameKey(it->path));
    }
    entry.made.clear();
    entry.state = State::kComplete;
    entry.failed = true;
    entry.failure = why;
}

std::int32_t Ledger::Confirm() {
    while (!open_.empty()) {
        const Open& entry = open_.front();
        if (entry.state == State::kFailed) return entry.index;
        if (entry.state != State::kComplete) return -1;
        if (entry.failed) {
            // Done with, not restored: the bar counts it, Confirmed() does not.
            if (observer_) {
                ++progress_.entriesDone;
                progress_.bytesDone += entry.bytes;
                observer_->OnEntryFailed(entry.failure);
                if (meter_)
                    meter_->Confirmed(entry.bytes);
                else
                    observer_->OnRestoreProgress(progress_);
            }
        } else if (entry.counted) {
            ++confirmed_;
            if (observer_) {
                ++progress_.entriesDone;
                progress_.bytesDone += entry.bytes;
                observer_->OnEntryDone(entry.index, entry.outcome);
                // A kept entry's data was never handled: its bytes count now.
                if (meter_)
                    meter_->Confirmed(entry.outcome == EntryOutcome::kKept ? entry.bytes : 0);
                else
                    observer_->OnRestoreProgress(progress_);
            }
        }
        nextIndex_ = entry.index + 1;
        open_.pop_front();
    }
    return -1;
}

void Ledger::RemoveFileOf(Open& entry, unsigned busyWaitMs) {
    if (!entry.hasFile) return;
    restored_.erase(entry.identity);
    for (const MadePath& made : entry.made) {
        if (!made.folder) platform::RemoveIfMade(made.path, entry.identity, false, busyWaitMs);
    }
}

void Ledger::UndoAfter(std::int32_t index, unsigned busyWaitMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(busyWaitMs);
    const auto left = [&] {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return ms > 0 ? static_cast<unsigned>(ms) : 0u;
    };
    while (!open_.empty() && open_.back().index > index) {
        Open& entry = open_.back();
        if (entry.claimed) keptPaths_.erase(entry.keptPath);
        // Only a complete file is the ledger's to remove: a failed one was
        // removed by its filler, and whatever stands at its name now is
        // someone else's.
        RemoveFileOf(entry, left());
        for (auto it = entry.made.rbegin(); it != entry.made.rend(); ++it) {
            if (!it->folder) continue;
            if (it->known) platform::RemoveIfMade(it->path, it->identity, true, left());
            madeFolders_.erase(platform::NameKey(it->path));
        }
        open_.pop_back();
    }
    if (!open_.empty() && open_.back().index == index) {
        if (open_.back().claimed) keptPaths_.erase(open_.back().keptPath);
        RemoveFileOf(open_.back(), left());
        open_.pop_back();
    }
}
