#pragma once
// The application object's portable core: the version files beside the
// executable ("profile.ini", "url.ini"), the update decision, and the
// start-up sequence. Everything that needs Windows (message boxes, process
// start, window lookup, the dialog) is reached through AppHost, so that the
// whole start-up logic is tested natively too.

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

// What start-up needs from the windowing system. The Windows program
// implements it with Win32; tests with a scripted stand-in.
class AppHost {
public:
    virtual ~AppHost() = default;
    // Framework preparation: common controls, sockets... False when the
    // socket start-up failed (the caller then reports and ends).
    virtual bool InitializeFramework() = 0;
    // "Yes/No" question; true for Yes.
    virtual bool AskYesNo(const std::u16string& text) = 0;
    // Error box (e.g. the socket start-up failure).
    virtual void ShowError(const std::u16string& text) = 0;
    // Starts a program by full path, not waiting for it. False on failure.
    virtual bool StartProgram(const std::u16string& path) = 0;
    // Brings an existing window titled like our dialog forward; false when
    // there is none.
    virtual bool ActivateExistingInstance() = 0;
    // Runs the restore dialog modally.
    virtual void RunMainDialog() = 0;
};

class CVantrelApp {
public:
    // Version files and update decision.
    bool LocateFiles();
    bool CreateProfile();
    bool RefreshProfile();
    bool ReadProductVersion();
    bool IsUpdatePending();

    // Start-up: the framework's initialisation override. Always false, so
    // the application ends when the dialog closes.
    bool StartApplication(AppHost& host);
    // Starts a program by its full path (safely quoted).
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
};
