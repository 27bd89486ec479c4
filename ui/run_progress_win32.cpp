// How the run's figures reach the restore dialog: the worker leaves them
// in atomics (and the entry's name under a lock) and never waits for the
// user-interface thread, which takes them up on a timer for the view and on
// a posted message for the taskbar button.

#include "ui/vantrel_dlg.h"

void CVantrelDlg::OnEntryStarted(std::int32_t, const std::u16string& name) {
    std::lock_guard<std::mutex> lock(m_entryLock);
    m_strRunEntry.assign(name);  // keeps its buffer: no allocation per entry
}

void CVantrelDlg::OnRestoreProgress(const RestoreProgress& progress) {
    m_entriesDone = progress.entriesDone;
    m_entriesTotal = progress.entriesTotal;
    m_bytesDone = progress.bytesDone;
    m_bytesTotal = progress.bytesTotal;
    m_progressSeen = true;
    const auto now = std::chrono::steady_clock::now();
    if (m_lastProgressPost != std::chrono::steady_clock::time_point{} && now - m_lastProgressPost < kProgressInterval)
        return;
    m_lastProgressPost = now;
    ::PostMessageW(m_hWnd, WM_RESTORE_PROGRESS, 0, 0);
}

LRESULT CVantrelDlg::OnRestoreProgress(WPARAM, LPARAM) {
    // A message posted by a run that has since finished finds no run.
    if (m_bRestoreRunning && !m_bRunEnded) ForwardProgress();
    return 0;
}

RestoreProgress CVantrelDlg::LatestProgress() const {
    RestoreProgress progress;
    progress.entriesDone = m_entriesDone;
    progress.entriesTotal = m_entriesTotal;
    progress.bytesDone = m_bytesDone;
    progress.bytesTotal = m_bytesTotal;
    return progress;
}

void CVantrelDlg::RefreshRunView() {
    if (!m_bRestoreRunning || m_bStopRequested) return;
    std::u16string entry;
    {
        std::lock_guard<std::mutex> lock(m_entryLock);
        entry = m_strRunEntry;
    }
    m_runView.Update(LatestProgress(), entry);
}

void CVantrelDlg::ForwardProgress() {
    if (!m_pTaskbar || !m_progressSeen) return;
    // By bytes when the run knows its byte total; an archive of empty
    // files and folders has none and is shown by entries.
    const std::uint64_t bytesTotal = m_bytesTotal;
    const std::int32_t entriesTotal = m_entriesTotal;
    if (bytesTotal > 0) {
        m_pTaskbar->ShowProgress(m_hWnd, m_bytesDone, bytesTotal);
    } else if (entriesTotal > 0) {
        m_pTaskbar->ShowProgress(m_hWnd, static_cast<std::uint64_t>(m_entriesDone.load()),
                                 static_cast<std::uint64_t>(entriesTotal));
    }
}
