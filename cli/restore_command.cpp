// sorvane-cli restore ARCHIVE FOLDER: one run of the engine, the same two
// messages as the dialog, and on failure one line saying what went wrong.

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_text.h"
#include "cli/commands.h"
#include "platform/console.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "restore/restore.h"

namespace {

constexpr char kRestoreDone[] = "バックアップデータの復元が完了しました。\n";
constexpr char kRestoreFailed[] = "バックアップデータの復元に失敗しました。\n";

bool IsAbsolute(const std::u16string& path) {
    if (path.empty()) return false;
    if (path[0] == u'/' || path[0] == u'\\') return true;
    return path.size() >= 2 && path[1] == u':';
}

// The engine joins names to the destination by plain concatenation and
// makes the current folder the destination around the open, so both paths
// must be absolute, and the folder must end in the separator.
std::u16string Absolute(std::u16string path) {
    for (char16_t& c : path) {
        if (c == u'/') c = platform::kPathSeparator;
    }
    if (IsAbsolute(path)) return path;
    std::u16string current;
    if (!platform::GetCurrentFolder(current)) return path;
    if (current.empty() || current.back() != platform::kPathSeparator) current.push_back(platform::kPathSeparator);
    return current + path;
}

// Redraws one line on a terminal; silent otherwise, so that logs and pipes
// get only the result.
class ConsoleProgress : public RestoreObserver {
public:
    explicit ConsoleProgress(bool show) : show_(show) {}

    void OnRestoreStarted() override { start_ = std::chrono::steady_clock::now(); }

    void OnRestoreFinished(int /*resultCode*/) override {
        if (drawn_) WriteErr("\n");
    }

    void OnRestoreProgress(const RestoreProgress& progress) override {
        if (!show_) return;
        const auto now = std::chrono::steady_clock::now();
        const bool last = progress.entriesDone == progress.entriesTotal;
        if (drawn_ && !last && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
        lastDrawn_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        char text[160];
        int n = std::snprintf(text, sizeof text, "\r%d/%d entries  %.1f/%.1f MiB", progress.entriesDone,
                              progress.entriesTotal, progress.bytesDone / 1048576.0, progress.bytesTotal / 1048576.0);
        if (seconds > 0.05 && n > 0 && static_cast<std::size_t>(n) < sizeof text)
            n += std::snprintf(text + n, sizeof text - n, "  %.1f MB/s", progress.bytesDone / 1e6 / seconds);
        std::string line(text);
        const std::size_t width = line.size();
        if (width < previousWidth_) line.append(previousWidth_ - width, ' ');
        previousWidth_ = width;
        WriteErr(line);
        drawn_ = true;
    }

    bool WantsByteTotal() const override { return show_; }

private:
    bool show_;
    bool drawn_ = false;
    std::size_t previousWidth_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDrawn_;
};

}  // namespace

int RunRestoreCommand(const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        WriteErr(UsageText());
        return kExitUsage;
    }
    const std::u16string archive = Absolute(platform::Utf8ToUtf16(args[0]));
    std::u16string folder = Absolute(platform::Utf8ToUtf16(args[1]));
    if (folder.back() != platform::kPathSeparator) folder.push_back(platform::kPathSeparator);

    ConsoleProgress progress(platform::IsTerminal(platform::StandardStream::kError));
    RestoreJob job;
    job.destinationFolder = folder;
    job.archivePath = archive;
    job.observer = &progress;
    RestoreThreadProc(&job);

    if (job.resultCode == RESTORE_OK) {
        WriteOut(kRestoreDone);
        return 0;
    }
    WriteOut(kRestoreFailed);
    WriteErr(RestoreFailureLine(job.resultCode, job.failure, platform::PathExists(archive)));
    return -job.resultCode;
}
