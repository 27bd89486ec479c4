// The start-up sequence of the application object: framework preparation,
// the version files and the update decision, the hand-off to the set-up
// program, the update program, the single-instance check and the dialog.
// Everything it needs from Windows goes through AppHost.

#include "app/vantrel_app.h"

#include "platform/fs.h"

bool AppHost::LocateFiles(CVantrelApp& app) { return app.LocateFiles(); }

bool CVantrelApp::StartApplication(AppHost& host) {
    // Nothing is touched on disk when the sockets can't start.
    if (!host.InitializeFramework()) {
        host.ShowMessage(host.LoadText(kSocketsInitFailedTextId), kStyleOk | kStyleIconExclamation);
        return false;
    }

    if (host.LocateFiles(*this)) {
        RefreshProfile();
    } else {
        CreateProfile();
    }

    if (IsUpdatePending() && host.ShowMessage(kUpdateQuestion, kStyleYesNoQuestion) == kAnswerYes) {
        // The set-up program replaces this build; nothing else runs.
        LaunchProgram(host, m_strSetupPath);
        return false;
    }

    // Started at every start that gets this far, also when another instance
    // is already running: the update program keeps itself to one copy.
    m_strUpdateProgramPath = m_strModuleFolder + platform::kPathSeparator + kUpdateProgramName;
    LaunchProgram(host, m_strUpdateProgramPath);

    if (host.ActivateWindowTitled(kRestoreDialogTitle)) {
        // Started with an archive (Explorer's "open with"): the running
        // dialog selects it, rather than this instance showing a second one.
        if (!m_strArchiveArgument.empty()) host.HandArchiveToWindow(kRestoreDialogTitle, m_strArchiveArgument);
        return false;
    }

    host.RunMainDialog();
    return false;
}

bool CVantrelApp::LaunchProgram(AppHost& host, const std::u16string& path) {
    // The program file is named explicitly and the command line quotes it:
    // an unquoted path with spaces ("C:\My Tools\Pellmoor.exe") would let
    // the system try "C:\My.exe" first, and this tool runs elevated.
    if (path.empty() || path.size() >= kProgramPathCapacity || path.find(u'"') != std::u16string::npos)
        return false;
    return host.StartProcess(path, u"\"" + path + u"\"");
}
