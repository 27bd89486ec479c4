// The committer's ledger: confirmation in catalogue order, and undo.

#include "restore/run_ledger.h"

#include "platform/fs.h"

void Ledger::Begin(std::int32_t index, std::uint64_t bytes) {
    Open entry;
    entry.index = index;
    entry.bytes = bytes;
    open_.push_back(std::move(entry));
}

void Ledger::Made(const std::u16string& path, bool folder) {
    if (!open_.empty()) open_.back().made.push_back({path, folder});
}

void Ledger::Complete(const platform::FileIdentity* identity) {
    if (open_.empty()) return;
    Open& entry = open_.back();
    entry.state = State::kComplete;
    if (identity) {
        entry.hasFile = true;
        entry.identity = *identity;
        restored_.insert(*identity);
    }
}

void Ledger::Filling() {
    if (!open_.empty()) open_.back().state = State::kFilling;
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
    if (!ok) {
        entry->state = State::kFailed;
        return;
    }
    entry->state = State::kComplete;
    entry->hasFile = true;
    entry->identity = identity;
    restored_.insert(identity);
}

std::int32_t Ledger::Confirm() {
    while (!open_.empty()) {
        const Open& entry = open_.front();
        if (entry.state == State::kFailed) return entry.index;
        if (entry.state != State::kComplete) return -1;
        ++confirmed_;
        if (observer_) {
            ++progress_.entriesDone;
            progress_.bytesDone += entry.bytes;
            observer_->OnRestoreProgress(progress_);
        }
        open_.pop_front();
    }
    return -1;
}

void Ledger::UndoAfter(std::int32_t index) {
    while (!open_.empty() && open_.back().index > index) {
        Open& entry = open_.back();
        if (entry.hasFile) restored_.erase(entry.identity);
        for (auto it = entry.made.rbegin(); it != entry.made.rend(); ++it) {
            if (it->folder) {
                platform::RemoveEmptyFolder(it->path);
            } else {
                platform::RemoveFile(it->path);
            }
        }
        open_.pop_back();
    }
    if (!open_.empty() && open_.back().index == index) open_.pop_back();
}
