#pragma once
// What the restore and test commands share: paths made absolute the way
// the engine needs them, and the one-line progress display on a terminal.

#include <chrono>
#include <cstddef>
#include <string>

#include "restore/restore.h"

// `path` with "/" as the platform separator, joined to the current folder
// when it is relative: the engine joins names to the destination by plain
// concatenation and changes the current folder around the open.
std::u16string AbsolutePath(std::u16string path);

// Redraws one line on a terminal; silent otherwise, so that logs and pipes
// get only the result.
class ConsoleProgress : public RestoreObserver {
public:
    explicit ConsoleProgress(bool show) : show_(show) {}

    void OnRestoreStarted() override { start_ = std::chrono::steady_clock::now(); }
    void OnRestoreFinished(int resultCode) override;
    void OnRestoreProgress(const RestoreProgress& progress) override;
    bool WantsByteTotal() const override { return show_; }

private:
    bool show_;
    bool drawn_ = false;
    std::size_t previousWidth_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_;
};
