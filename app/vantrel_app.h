#pragma once
// The application object's portable core: the version files beside the
// executable ("profile.ini", "url.ini"), the update decision, and the
// start-up sequence. Everything that needs Windows (message boxes, process
// start, window lookup, the dialog) is reached through AppHost, so that the
// whole start-up logic is tested natively too.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Four signed components, most significant first; always four elements.
using VersionNumbers = std::vector<std::int32_t>;

VersionNumbers ParseVersion(const std::u16string& text);
// True when a is newer than b (first differing component decides).
bool IsNewerVersion(const VersionNumbers& a, const VersionNumbers& b);

// The built-in update-site URL (never fetched; only written to profile.ini).
extern const char16_t kDefaultUpdateSiteUrl[];

class CVantrelApp;

// Texts, names and values of the start-up.
inline constexpr char16_t kUpdateProgramName[] = u"Pellmoor.exe";
// The restore dialog's caption, product name and one ideographic space; a
// window of exactly this title is the running instance.
inline constexpr char16_t kRestoreDialogTitle[] = u"Sorvane\u3000";
inline constexpr char16_t kUpdateQuestion[] = u"新しいバージョンが見つかりました。アップデートしますか？";
inline constexpr unsigned kSocketsInitFailedTextId = 103;  // string resource
// Message-box styles and answers, as Windows numbers them.
inline constexpr unsigned kStyleOk = 0x00;
inline constexpr unsigned kStyleIconExclamation = 0x30;
inline constexpr unsigned kStyleYesNoQuestion = 0x24;  // MB_YESNO | MB_ICONQUESTION
inline constexpr int kAnswerYes = 6;                   // IDYES
// Program paths hold at most this many units, terminator included.
inline constexpr std::size_t kProgramPathCapacity = 260;

// What start-up needs from the windowing system. The Windows program
// implements it with Win32; tests with a scripted stand-in.
class AppHost {
public:
    virtual ~AppHost() = default;
    // Framework preparation before any file is touched: common controls,
    // the framework, Windows Sockets, control containers, the registry key.
    // False when the socket start-up failed.
    virtual bool InitializeFramework() = 0;
    // A message box owned by no window, captioned with the application
    // title. Returns the button chosen (kAnswerYes...).
    virtual int ShowMessage(const std::u16string& text, unsigned style) = 0;
    // The text of a string resource; empty when there is none.
    virtual std::u16string LoadText(unsigned id) = 0;
    // Creates a process from the program file `applicationPath` with the
    // command line `commandLine`, and does not wait for it. False when no
    // process was created.
    virtual bool StartProcess(const std::u16string& applicationPath, const std::u16string& commandLine) = 0;
    // Brings a top-level window of exactly this title to the foreground and
    // shows it; false when there is none.
    virtual bool ActivateWindowTitled(const std::u16string& title) = 0;
    // Runs the restore dialog modally, as the application's main window.
    virtual void RunMainDialog() = 0;
    // Hands the archive path to the running instance's dialog, the window
    // of exactly this title. False when there is none or it refused.
    virtual bool HandArchiveToWindow(const std::u16string& title, const std::u16string& archivePath) = 0;
    // Finds the version files: beside the running executable
    // (CVantrelApp::LocateFiles). True when profile.ini exists.
    virtual bool LocateFiles(CVantrelApp& app);
};

class CVantrelApp {
public:
    // Version files and update decision. Start-up calls LocateFiles, then
    // RefreshProfile when profile.ini exists or CreateProfile when it does
    // not, then IsUpdatePending. Failures are silent: a file that can't be
    // read or written is left as it was.
    //
    // LocateFiles: fills the module path and folder and the profile path;
    // true when profile.ini exists beside the executable.
    bool LocateFiles();
    // The same for the executable at `modulePath` (tests place it in a
    // folder of their own).
    bool LocateFilesFor(const std::u16string& modulePath);
    // Both true when the product version was read and the version keys
    // written; false otherwise (CreateProfile then wrote nothing).
    bool CreateProfile();
    bool RefreshProfile();
    // Fills m_strProductVersion; false when the module has none.
    bool ReadProductVersion();
    // True when a newer downloaded set-up program waits beside the
    // executable; a set-up program that is not newer is deleted.
    bool IsUpdatePending();

    // Start-up: the framework's initialisation override. Always false, so
    // the application ends when the dialog closes (or at once, after the
    // set-up program was started, another instance was found, or the
    // sockets failed).
    bool StartApplication(AppHost& host);
    // Starts the program at the full path `path` without waiting for it:
    // the path is the program file and, quoted, its whole command line, so
    // that spaces in a folder name can never start another program. False
    // when nothing was started (also for a path that does not fit the
    // command line or contains a quote).
    bool LaunchProgram(AppHost& host, const std::u16string& path);

    std::u16string m_strProfilePath;
    std::u16string m_strUrlIniPath;
    std::u16string m_strModulePath;
    std::u16string m_strUpdateSiteUrl;
    std::u16string m_strSetupPath;
    std::u16string m_strModuleFolder;
    std::u16string m_strCurrentVersion;
    std::u16string m_strPassedVersion;
    std::u16string m_strDownloadedVersion;
    std::u16string m_strProductVersion;
    std::u16string m_strUpdateProgramPath;
    // The one archive the program was started with (absolute), or empty.
    // The dialog selects it; a second instance hands it to the first.
    std::u16string m_strArchiveArgument;
};
