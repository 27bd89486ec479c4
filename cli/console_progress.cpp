// Shared by the commands that run the engine over a whole archive.

#include "cli/console_progress.h"

#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "platform/fs.h"
#include "platform/interrupt.h"

namespace {

// Signal handlers can reach only what is global.
StopRequest g_stop;
void RequestStop() { g_stop.Request(); }
std::unique_ptr<platform::InterruptCatcher> g_catcher;

}  // namespace

std::u16string AbsolutePath(std::u16string path) {
    for (char16_t& c : path) {
        if (c == u'/') c = platform::kPathSeparator;
    }
    const std::u16string full = platform::FullPath(path);
    return full.empty() ? path : full;
}

ConsoleInterrupts::ConsoleInterrupts() { g_catcher = std::make_unique<platform::InterruptCatcher>(&RequestStop); }
ConsoleInterrupts::~ConsoleInterrupts() { g_catcher.reset(); }
const StopRequest* ConsoleInterrupts::Stop() const { return &g_stop; }
void ConsoleInterrupts::CleanedUp() { g_catcher->CleanedUp(); }

void ConsoleProgress::OnRestoreFinished(int /*resultCode*/) {
    if (drawn_) WriteErr("\n");
}

void ConsoleProgress::OnRestoreProgress(const RestoreProgress& progress) {
    last_ = progress;
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
