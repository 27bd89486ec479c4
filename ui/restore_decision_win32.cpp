// The question before a restore where files stand at the entries' paths
// (template 104, and the list of newer files, template 105), and the
// dialog's part in it: the plan made on a worker while the dialog goes on
// answering, the question asked only where a file stands, the answer kept
// for the run, and the outcome's counts after the result box.

#include "ui/restore_decision.h"

#include <algorithm>
#include <utility>

#include "platform/wide.h"
#include "res/resource.h"
#include "ui/framework.h"
#include "ui/user_prompts.h"
#include "ui/vantrel_dlg.h"

namespace {

// The list of newer files shows this many; a restore over a folder where
// far more are newer is seldom what the user meant, and the count says so.
constexpr std::size_t kNewerListed = 5000;

// How long the plan may take before the dialog says it is working on it.
constexpr ULONGLONG kPlanShownAfterMs = 500;

class CNewerFilesDlg : public CDialog {
public:
    CNewerFilesDlg(UserPrompts& prompts, HWND parent, const std::vector<std::u16string>& paths)
        : CDialog(IDD_NEWER_FILES, prompts, parent), paths_(paths) {}

protected:
    BOOL OnInitDialog() override {
        HWND list = GetDlgItem(IDC_NEWER_LIST);
        HDC dc = ::GetDC(list);
        HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)));
        LONG widest = 0;
        const auto add = [&](const std::u16string& text) {
            ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text)));
            SIZE size{};
            ::GetTextExtentPoint32W(dc, W(text), static_cast<int>(text.size()), &size);
            widest = std::max(widest, size.cx);
        };
        const std::size_t shown = std::min(paths_.size(), kNewerListed);
        for (std::size_t i = 0; i < shown; ++i) add(paths_[i]);
        if (paths_.size() > shown) add(u"…ほか " + NumberText().Whole(paths_.size() - shown) + u" 件");
        ::SelectObject(dc, old);
        ::ReleaseDC(list, dc);
        // Long paths scroll sideways instead of being cut.
        ::SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
        return TRUE;
    }

private:
    const std::vector<std::u16string>& paths_;
};

class CRestoreDecisionDlg : public CDialog {
public:
    CRestoreDecisionDlg(UserPrompts& prompts, HWND parent, const DecisionTexts& texts, RestoreDecision& decision)
        : CDialog(IDD_RESTORE_DECISION, prompts, parent), texts_(texts), decision_(decision) {}

protected:
    BOOL OnInitDialog() override {
        SetDlgItemText(IDC_DECISION_MADE, texts_.made);
        SetDlgItemText(IDC_DECISION_REPLACED, texts_.replaced);
        SetDlgItemText(IDC_DECISION_NEWER, texts_.newer);
        SetDlgItemText(IDC_DECISION_IDENTICAL, texts_.identical);
        ::EnableWindow(GetDlgItem(IDC_DECISION_SHOW_NEWER), !texts_.newerPaths.empty());
        int answer = IDC_ANSWER_REPLACE;
        if (decision_.answer == ExistingAnswer::kKeepNewer) answer = IDC_ANSWER_KEEP_NEWER;
        if (decision_.answer == ExistingAnswer::kKeepAll) answer = IDC_ANSWER_KEEP_ALL;
        ::CheckRadioButton(m_hWnd, IDC_ANSWER_REPLACE, IDC_ANSWER_KEEP_ALL, answer);
        ::CheckDlgButton(m_hWnd, IDC_SKIP_IDENTICAL, decision_.skipIdentical ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    void OnOK() override {
        decision_.answer = ExistingAnswer::kReplace;
        if (::IsDlgButtonChecked(m_hWnd, IDC_ANSWER_KEEP_NEWER) == BST_CHECKED)
            decision_.answer = ExistingAnswer::kKeepNewer;
        if (::IsDlgButtonChecked(m_hWnd, IDC_ANSWER_KEEP_ALL) == BST_CHECKED) decision_.answer = ExistingAnswer::kKeepAll;
        decision_.skipIdentical = ::IsDlgButtonChecked(m_hWnd, IDC_SKIP_IDENTICAL) == BST_CHECKED;
        EndDialog(IDOK);
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT&) override {
        if (message != WM_COMMAND || LOWORD(wParam) != IDC_DECISION_SHOW_NEWER || HIWORD(wParam) != BN_CLICKED)
            return false;
        CNewerFilesDlg list(Prompts(), m_hWnd, texts_.newerPaths);
        list.DoModal();
        return true;
    }

private:
    const DecisionTexts& texts_;
    RestoreDecision& decision_;
};

}  // namespace

bool UserPrompts::DecideAboutExisting(HWND owner, const DecisionTexts& texts, RestoreDecision& decision) {
    RestoreDecision answer = decision;
    CRestoreDecisionDlg dialog(*this, owner, texts, answer);
    if (dialog.DoModal() != IDOK) return false;
    decision = answer;
    return true;
}

// ---------------------------------------------------------------- the dialog's part

unsigned CVantrelDlg::PlanThreadProc(void* param) {
    auto* job = static_cast<PlanJob*>(param);
    job->code = job->planFunction(job->destinationFolder, job->archivePath,
                                  PlanningChoices(job->some ? &job->chosen : nullptr), job->plan, nullptr, &job->stop);
    return 0;
}

bool CVantrelDlg::DecideAboutWhatStands(const std::u16string& folder, const std::vector<bool>* chosen) {
    m_bDecisionMade = false;
    m_decidedChoices = RestoreChoices{};
    m_decidedChoices.entries = chosen;
    // A plan left running by a question given up earlier ends first (it
    // was asked to stop): its job is replaced below.
    if (m_pPlanJob) m_pPlanJob->stop.Request();
    m_pPlanThread.reset();
    m_pPlanJob = std::make_unique<PlanJob>();
    m_pPlanJob->destinationFolder = folder;
    m_pPlanJob->archivePath = m_strArchivePath;
    m_pPlanJob->planFunction = m_planFunction;
    // The plan's own copy: a plan given up may still read it while the
    // next restore makes its choice.
    if (chosen) {
        m_pPlanJob->chosen = *chosen;
        m_pPlanJob->some = true;
    }
    m_pPlanThread = BeginWorkerThread(&PlanThreadProc, m_pPlanJob.get());
    // Without a plan nothing is known of what stands there: the restore
    // goes on as it always did, with the one question already answered.
    if (!m_pPlanThread) return true;

    // The dialog answers its messages while the plan reads (a large archive
    // takes seconds); after half a second it says what it is doing, and
    // 中止 gives the question up.
    m_bPlanning = true;
    m_bPlanAbandoned = false;
    const ULONGLONG start = ::GetTickCount64();
    bool shown = false, ended = false;
    while (!ended) {
        HANDLE thread = m_pPlanThread->Handle();
        const DWORD wait = ::MsgWaitForMultipleObjects(1, &thread, FALSE, 50, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) break;
        if (!shown && ::GetTickCount64() - start >= kPlanShownAfterMs) {
            shown = true;
            m_runView.Planning();
        }
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                ended = true;
                break;
            }
            if (m_hWnd && ::IsDialogMessageW(m_hWnd, &msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ended = ended || m_bPlanAbandoned || !m_hWnd || EndResult() != -1;
    }
    m_bPlanning = false;
    if (shown && m_hWnd) m_runView.Reset();
    // Given up, or the dialog is ending: nothing is written. The plan only
    // reads; it stops at its next entry or buffer and is waited for later.
    if (ended) {
        m_pPlanJob->stop.Request();
        return false;
    }
    m_pPlanThread.reset();
    // Another archive chosen while the plan read: the plan is not its.
    if (m_pPlanJob->archivePath != m_strArchivePath) return false;
    // An archive that can't be planned is restored as before: the run
    // reports why it fails, in the words it always used.
    if (m_pPlanJob->code != RESTORE_OK) return true;
    const StandingCounts counts = CountWhatStands(m_pPlanJob->plan);
    if (!AsksAboutWhatStands(counts)) return true;
    RestoreDecision decision;
    if (!Prompts().DecideAboutExisting(m_hWnd, DecisionTextsFor(counts, UserNumberText()), decision)) return false;
    m_decidedChoices = ChoicesFor(decision, chosen);
    m_bDecisionMade = true;
    return true;
}

void CVantrelDlg::OnEntryDone(std::int32_t, EntryOutcome outcome) {
    switch (outcome) {
    case EntryOutcome::kRestored: ++m_entriesRestored; break;
    case EntryOutcome::kKept: ++m_entriesKept; break;
    case EntryOutcome::kIdentical: ++m_entriesIdentical; break;
    }
}

void CVantrelDlg::ShowOutcomeCounts() {
    if (!m_bRunHadDecision) return;
    m_runView.ShowOutcome(OutcomeCountsText(m_entriesRestored.load(), m_entriesKept.load(), m_entriesIdentical.load(),
                                            UserNumberText()));
}
