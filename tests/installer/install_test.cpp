// The set-up program and its uninstaller run the way an administrator or a
// deployment tool runs them (silently, by the command lines they register),
// in a Wine prefix of the test run's own (fresh-prefix.sh beside this file):
// what lands where, what the registry and the Start menu hold, what the
// context-menu command starts, what an install over an earlier one keeps,
// what a running Sorvane does to a run, and what an uninstall leaves.
//
// The tests share that prefix one at a time (CTest's resource lock), and
// each one starts by clearing whatever an install could have left.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "product_version.h"
#include "res/resource.h"
#include "tests/support/start_process_win32.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kUninstallRoot[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Sorvane";
constexpr wchar_t kZipType[] = L"Software\\Classes\\SystemFileAssociations\\.zip";
constexpr wchar_t kZipVerbs[] = L"Software\\Classes\\SystemFileAssociations\\.zip\\shell";
// The caption by which the program keeps a single instance.
constexpr wchar_t kDialogTitle[] = L"Sorvane\u3000";
// A name the backup-name decoder reads: D:\Data\Photos, 2013/10/08 08:17:17.
constexpr wchar_t kBackupName[] = L"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip";

// Build paths are Linux paths; Wine shows the root file system as Z:.
fs::path FromBuild(const char* unixPath) {
    std::string p = std::string("Z:") + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return fs::path(p);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool WaitFor(const std::function<bool()>& done, DWORD milliseconds = 20000) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    while (!done()) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(50);
    }
    return true;
}

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

// ---- the registry, 64-bit view of HKEY_LOCAL_MACHINE ----

class RegKey {
public:
    explicit RegKey(const std::wstring& path) {
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegKey() {
        if (key_) ::RegCloseKey(key_);
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    bool exists() const { return key_ != nullptr; }
    std::optional<std::wstring> String(const wchar_t* name) const {
        DWORD type = 0, size = 0;
        if (!key_ || ::RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
            return std::nullopt;
        std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        if (::RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
            ERROR_SUCCESS)
            return std::nullopt;
        value.resize(wcsnlen(value.c_str(), value.size()));
        return value;
    }
    std::optional<DWORD> Dword(const wchar_t* name) const {
        DWORD type = 0, value = 0, size = sizeof value;
        if (!key_ || ::RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                         ERROR_SUCCESS ||
            type != REG_DWORD)
            return std::nullopt;
        return value;
    }
    std::vector<std::wstring> Subkeys() const {
        std::vector<std::wstring> names;
        for (DWORD i = 0; key_; ++i) {
            wchar_t name[256];
            DWORD length = 256;
            if (::RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        return names;
    }

private:
    HKEY key_ = nullptr;
};

bool KeyExists(const std::wstring& path) { return RegKey(path).exists(); }

// Sets a value, making the key when it is missing.
void SetString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

// The context-menu verbs of .zip files whose command starts Sorvane.exe,
// by key name. The test finds the installer's verb by what it runs.
std::vector<std::wstring> SorvaneVerbs() {
    std::vector<std::wstring> verbs;
    for (const std::wstring& verb : RegKey(kZipVerbs).Subkeys()) {
        const auto command = RegKey(std::wstring(kZipVerbs) + L"\\" + verb + L"\\command").String(L"");
        if (command && Lower(*command).find(L"sorvane.exe") != std::wstring::npos) verbs.push_back(verb);
    }
    return verbs;
}

// The Apps & features entries that name Sorvane.
int SorvaneEntries() {
    int count = 0;
    for (const std::wstring& key : RegKey(kUninstallRoot).Subkeys()) {
        const auto name = RegKey(std::wstring(kUninstallRoot) + L"\\" + key).String(L"DisplayName");
        if (name && name->rfind(L"Sorvane", 0) == 0) ++count;
    }
    return count;
}

// ---- places ----

fs::path KnownFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    return ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path) == S_OK ? fs::path(path) : fs::path();
}
fs::path DefaultFolder() { return KnownFolder(CSIDL_PROGRAM_FILES) / L"Sorvane"; }
// /D= takes the rest of the command line, spaces included, unquoted.
const fs::path kJapaneseFolder = L"C:\\Sorvane 復元ツール";
fs::path Shortcut() { return KnownFolder(CSIDL_COMMON_PROGRAMS) / L"Sorvane.lnk"; }

std::vector<std::uint8_t> Bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

// Every file below `folder`, as relative names with backslashes.
std::set<std::wstring> FilesIn(const fs::path& folder) {
    std::set<std::wstring> names;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return names;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        if (e.is_regular_file()) names.insert(e.path().lexically_relative(folder).wstring());
    return names;
}

// What the installer puts in its folder: the two programs, the read-me,
// every licence notice of the source tree, the uninstaller.
std::set<std::wstring> InstalledNames() {
    std::set<std::wstring> names = {L"Sorvane.exe", L"sorvane-cli.exe", L"readme.txt", L"uninstall.exe"};
    for (const auto& e : fs::directory_iterator(FromBuild(SORVANE_SOURCE_DIR "/res/notices")))
        if (e.path().extension() == L".txt") names.insert(L"notices\\" + e.path().filename().wstring());
    return names;
}

// ---- programs ----

// Runs a command line the way Explorer and deployment tools do (no separate
// program name: the line's quoted first word is the program) and returns
// its process, or an empty handle.
OwnedHandle Start(std::wstring commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!testsupport::StartProcess(nullptr, commandLine, FALSE, 0, nullptr, startup, info)) {
        ADD_FAILURE() << "could not start " << Utf8(commandLine) << ": error " << ::GetLastError();
        return OwnedHandle();
    }
    ::CloseHandle(info.hThread);
    return OwnedHandle(info.hProcess);
}

// The exit code, or -1 when the process did not end within `milliseconds`.
long ExitCodeOf(HANDLE process, DWORD milliseconds = 120000) {
    if (!process || ::WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    return static_cast<long>(code);
}

long RunSetup(const std::wstring& arguments) {
    const std::wstring package = FromBuild(SORVANE_SETUP_PACKAGE).wstring();
    OwnedHandle setup = Start(L"\"" + package + L"\" /S" + (arguments.empty() ? L"" : L" " + arguments));
    return ExitCodeOf(setup.get());
}

long Install(const fs::path& folder) {
    return RunSetup(folder == DefaultFolder() ? L"" : L"/D=" + folder.wstring());
}

// An NSIS uninstaller copies itself to the temporary folder, starts the
// copy and ends at once (so that the copy can delete the original): its own
// exit code says nothing. The copy is its child; it is watched from the
// moment it appears, and its exit code is the uninstall's.
long RunUninstaller(const std::wstring& commandLine) {
    OwnedHandle launcher = Start(commandLine);
    if (!launcher) return -1;
    const DWORD launcherId = ::GetProcessId(launcher.get());
    OwnedHandle copy;
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    while (!copy && ::GetTickCount64() < deadline) {
        OwnedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more && !copy;
             more = ::Process32NextW(snapshot.get(), &entry))
            if (entry.th32ParentProcessID == launcherId)
                copy.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        // A launcher that failed (it could not make its copy) says so itself.
        if (!copy && ExitCodeOf(launcher.get(), 10) > 0) return ExitCodeOf(launcher.get(), 0);
    }
    if (!copy) {
        ADD_FAILURE() << "the uninstaller's copy was never seen running";
        return -1;
    }
    return ExitCodeOf(copy.get());
}

long Uninstall() {
    const auto quiet = RegKey(kUninstallKey).String(L"QuietUninstallString");
    if (!quiet) {
        ADD_FAILURE() << "no QuietUninstallString to uninstall with";
        return -1;
    }
    return RunUninstaller(*quiet);
}

// The restore dialog of a running Sorvane: found by its caption, as the
// program finds its own first instance.
HWND WaitForDialog() {
    HWND dialog = nullptr;
    WaitFor([&] { return (dialog = ::FindWindowW(nullptr, kDialogTitle)) != nullptr; });
    return dialog;
}

int DialogCount() {
    int count = 0;
    ::EnumWindows(
        [](HWND window, LPARAM counter) -> BOOL {
            wchar_t title[32] = {};
            ::GetWindowTextW(window, title, 32);
            if (std::wstring(title) == kDialogTitle) ++*reinterpret_cast<int*>(counter);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count;
}

std::wstring ArchiveShownBy(HWND dialog) {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(dialog, IDC_ARCHIVE_PATH, text, 1024);
    return text;
}

// Starts the installed Sorvane.exe, waits for its dialog, then closes it:
// what a user's first start leaves beside the program (profile.ini).
void StartAndCloseSorvane(const fs::path& folder) {
    OwnedHandle sorvane = Start(L"\"" + (folder / L"Sorvane.exe").wstring() + L"\"");
    HWND dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "the installed Sorvane showed no dialog";
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_EQ(ExitCodeOf(sorvane.get(), 20000), 0);
}

// A shortcut's target and icon, read through the shell as Explorer reads it.
struct ShortcutInfo {
    std::wstring target, arguments, icon;
    int iconIndex = -1;
};
std::optional<ShortcutInfo> ReadShortcut(const fs::path& link) {
    struct ComScope {
        ComScope() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
        ~ComScope() { ::CoUninitialize(); }
    } com;
    struct Releaser {
        void operator()(IUnknown* p) const { p->Release(); }
    };
    IShellLinkW* rawLink = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&rawLink))))
        return std::nullopt;
    std::unique_ptr<IShellLinkW, Releaser> shellLink(rawLink);
    IPersistFile* rawFile = nullptr;
    if (FAILED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&rawFile)))) return std::nullopt;
    std::unique_ptr<IPersistFile, Releaser> file(rawFile);
    if (FAILED(file->Load(link.c_str(), STGM_READ))) return std::nullopt;
    ShortcutInfo info;
    wchar_t text[MAX_PATH] = {};
    shellLink->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
    info.target = text;
    text[0] = L'\0';
    shellLink->GetArguments(text, MAX_PATH);
    info.arguments = text;
    text[0] = L'\0';
    shellLink->GetIconLocation(text, MAX_PATH, &info.iconIndex);
    info.icon = text;
    return info;
}

// Removes whatever an install may have left, by force, so that each test
// starts from a machine that never saw Sorvane.
void StartFromNothing() {
    for (const fs::path& folder : {DefaultFolder(), kJapaneseFolder}) {
        std::error_code ec;
        fs::remove_all(folder, ec);
    }
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallKey);
    // What other programs keep on .zip is each test's own business.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kZipType);
    std::error_code ec;
    fs::remove(Shortcut(), ec);
    ASSERT_FALSE(fs::exists(DefaultFolder()));
    ASSERT_FALSE(fs::exists(kJapaneseFolder));
    ASSERT_FALSE(KeyExists(kUninstallKey));
    ASSERT_FALSE(KeyExists(kZipType));
    ASSERT_FALSE(fs::exists(Shortcut()));
}

// Compared as a whole; a byte dump of a program would say nothing more.
void ExpectProgramsAsBuilt(const fs::path& folder) {
    EXPECT_TRUE(Bytes(folder / L"Sorvane.exe") == Bytes(FromBuild(SORVANE_PROGRAM))) << "Sorvane.exe is not the build's";
    EXPECT_TRUE(Bytes(folder / L"sorvane-cli.exe") == Bytes(FromBuild(SORVANE_CLI_PROGRAM)))
        << "sorvane-cli.exe is not the build's";
}

// Stands in for an earlier install's programs, so that a second run shows
// whether it replaced them.
const std::string kOldProgram = "an earlier Sorvane.exe";
const std::string kOldConsoleProgram = "an earlier sorvane-cli.exe";
void MakeProgramsOld(const fs::path& folder) {
    ASSERT_TRUE(WriteBytes(folder / L"Sorvane.exe", kOldProgram));
    ASSERT_TRUE(WriteBytes(folder / L"sorvane-cli.exe", kOldConsoleProgram));
}
std::string TextOf(const fs::path& file) {
    const auto bytes = Bytes(file);
    return std::string(bytes.begin(), bytes.end());
}

struct FolderCase {
    const char* fault;
    fs::path folder;
};
std::vector<FolderCase> FolderCases() {
    return {
        {"the default folder under Program Files", DefaultFolder()},
        {"a /D= folder with Japanese and a space in its name", kJapaneseFolder},
    };
}

TEST(SilentInstall, PutsFilesEntryShortcutAndVerbInPlace) {
    for (const FolderCase& c : FolderCases()) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(StartFromNothing());
        ASSERT_EQ(Install(c.folder), 0);

        EXPECT_EQ(FilesIn(c.folder), InstalledNames());
        ExpectProgramsAsBuilt(c.folder);

        const std::wstring folder = c.folder.wstring();
        const std::wstring uninstaller = L"\"" + folder + L"\\uninstall.exe\"";
        std::uintmax_t bytes = 0;
        for (const std::wstring& name : FilesIn(c.folder)) bytes += fs::file_size(c.folder / name);
        const DWORD kib = static_cast<DWORD>((bytes + 1023) / 1024);

        RegKey entry(kUninstallKey);
        ASSERT_TRUE(entry.exists()) << "no Apps & features entry";
        struct StringValue {
            const wchar_t* name;
            std::wstring expected;
        };
        const StringValue strings[] = {
            {L"DisplayName", L"Sorvane"},
            {L"DisplayVersion", SORVANE_VERSION_WTEXT},
            {L"DisplayIcon", folder + L"\\Sorvane.exe,0"},
            {L"InstallLocation", folder},
            {L"UninstallString", uninstaller},
            {L"QuietUninstallString", uninstaller + L" /S"},
        };
        for (const StringValue& v : strings) {
            const auto value = entry.String(v.name);
            EXPECT_EQ(value.value_or(L"(absent)"), v.expected) << Utf8(v.name);
            std::cout << "  " << Utf8(v.name) << " = " << Utf8(value.value_or(L"(absent)")) << "\n";
        }
        const auto publisher = entry.String(L"Publisher");
        EXPECT_FALSE(publisher.value_or(L"").empty()) << "no Publisher";
        std::cout << "  Publisher = " << Utf8(publisher.value_or(L"(absent)")) << "\n";
        for (const wchar_t* flag : {L"NoModify", L"NoRepair"}) {
            EXPECT_EQ(entry.Dword(flag).value_or(0), 1u) << Utf8(flag) << " is not the DWORD 1";
            std::cout << "  " << Utf8(flag) << " = " << entry.Dword(flag).value_or(0) << "\n";
        }
        // KiB of what was installed: a size in bytes, or one that left out
        // a file, is far off.
        const auto size = entry.Dword(L"EstimatedSize");
        ASSERT_TRUE(size.has_value()) << "EstimatedSize is missing or not a DWORD";
        EXPECT_LE(std::max(*size, kib) - std::min(*size, kib), 1u) << "EstimatedSize, for " << bytes << " bytes";
        std::cout << "  EstimatedSize = " << *size << " (" << bytes << " bytes installed)\n";

        const auto link = ReadShortcut(Shortcut());
        ASSERT_TRUE(link.has_value()) << "no readable Start-menu shortcut at " << Utf8(Shortcut().wstring());
        EXPECT_EQ(Lower(link->target), Lower(folder + L"\\Sorvane.exe"));
        EXPECT_EQ(link->arguments, L"");
        EXPECT_EQ(Lower(link->icon), Lower(folder + L"\\Sorvane.exe"));
        EXPECT_EQ(link->iconIndex, 0);

        const auto verbs = SorvaneVerbs();
        ASSERT_EQ(verbs.size(), 1u) << "one context-menu verb for .zip files";
        const std::wstring verbKey = std::wstring(kZipVerbs) + L"\\" + verbs[0];
        RegKey verb(verbKey);
        EXPECT_EQ(verb.String(L"MUIVerb").value_or(L"(absent)"), L"Sorvane で復元");
        EXPECT_EQ(verb.String(L"Icon").value_or(L"(absent)"), folder + L"\\Sorvane.exe,0");
        const auto command = RegKey(verbKey + L"\\command").String(L"");
        EXPECT_EQ(command.value_or(L"(absent)"), L"\"" + folder + L"\\Sorvane.exe\" \"%1\"");
        std::cout << "  verb " << Utf8(verbs[0]) << ": MUIVerb = " << Utf8(verb.String(L"MUIVerb").value_or(L""))
                  << ", Icon = " << Utf8(verb.String(L"Icon").value_or(L""))
                  << ", MultiSelectModel = " << Utf8(verb.String(L"MultiSelectModel").value_or(L"(absent)"))
                  << ", command = " << Utf8(command.value_or(L"")) << "\n";
    }
}

// Japanese on a Japanese system, English everywhere else. CTest runs this
// test twice: in the Japanese session, and with Wine told the system is
// English (fresh-prefix.sh, SORVANE_WINE_LANG).
TEST(SilentInstall, SpeaksTheSystemsLanguage) {
    const bool japanese = PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_JAPANESE;
    std::cout << "  user interface language " << std::hex << ::GetUserDefaultUILanguage() << std::dec << "\n";
    ASSERT_NO_FATAL_FAILURE(StartFromNothing());
    ASSERT_EQ(Install(DefaultFolder()), 0);
    const auto verbs = SorvaneVerbs();
    ASSERT_EQ(verbs.size(), 1u);
    EXPECT_EQ(RegKey(std::wstring(kZipVerbs) + L"\\" + verbs[0]).String(L"MUIVerb").value_or(L"(absent)"),
              japanese ? L"Sorvane で復元" : L"Restore with Sorvane");
}

TEST(SilentInstall, ContextMenuCommandOpensTheDialogOnTheArchive) {
    ASSERT_NO_FATAL_FAILURE(StartFromNothing());
    ASSERT_EQ(Install(kJapaneseFolder), 0);
    const auto verbs = SorvaneVerbs();
    ASSERT_EQ(verbs.size(), 1u);
    const auto command = RegKey(std::wstring(kZipVerbs) + L"\\" + verbs[0] + L"\\command").String(L"");
    ASSERT_TRUE(command.has_value());

    // Archives in folders with spaces and Japanese names: a command that
    // quotes neither the program nor %1 would split them.
    const fs::path folder = KnownFolder(CSIDL_COMMON_DOCUMENTS) / L"バックアップ 置き場";
    fs::create_directories(folder);
    const fs::path first = folder / kBackupName;
    fs::create_directories(folder / L"2 つ目");
    const fs::path second = folder / L"2 つ目" / kBackupName;
    ASSERT_TRUE(WriteBytes(first, "PK\x05\x06" + std::string(18, '\0')));
    ASSERT_TRUE(WriteBytes(second, "PK\x05\x06" + std::string(18, '\0')));
    const auto commandFor = [&](const fs::path& archive) {
        std::wstring line = *command;
        line.replace(line.find(L"%1"), 2, archive.wstring());
        return line;
    };

    OwnedHandle sorvane = Start(commandFor(first));
    HWND dialog = WaitForDialog();
    ASSERT_NE(dialog, nullptr) << "the verb's command showed no dialog";
    EXPECT_TRUE(WaitFor([&] { return ArchiveShownBy(dialog) == first.wstring(); }))
        << "the dialog shows " << Utf8(ArchiveShownBy(dialog));

    // A second use of the verb hands its archive to the dialog already open.
    OwnedHandle another = Start(commandFor(second));
    EXPECT_EQ(ExitCodeOf(another.get(), 20000), 0) << "the second instance did not end";
    EXPECT_TRUE(WaitFor([&] { return ArchiveShownBy(dialog) == second.wstring(); }))
        << "the open dialog shows " << Utf8(ArchiveShownBy(dialog));
    EXPECT_EQ(DialogCount(), 1) << "a second dialog opened";

    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(ExitCodeOf(sorvane.get(), 20000), 0);
    std::error_code ec;
    fs::remove_all(folder, ec);
}

struct ReinstallCase {
    const char* fault;
    fs::path first;          // where the earlier install went
    bool secondGivesFolder;  // the second run names that folder with /D=
    bool olderVersion;       // the earlier install recorded an older version
};

TEST(SilentInstall, OverAnEarlierInstallReplacesProgramsKeepsProfileAndOneEntry) {
    const ReinstallCase cases[] = {
        {"the same version again", DefaultFolder(), false, false},
        {"over an older version", DefaultFolder(), false, true},
        {"an earlier install in a /D= folder, again without /D=", kJapaneseFolder, false, false},
        {"an earlier install in a /D= folder, again with the same /D=", kJapaneseFolder, true, true},
    };
    for (const ReinstallCase& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(StartFromNothing());
        ASSERT_EQ(Install(c.first), 0);
        ASSERT_NO_FATAL_FAILURE(StartAndCloseSorvane(c.first));
        // The program's own settings, as a user's later starts leave them.
        const std::wstring profile = (c.first / L"profile.ini").wstring();
        ASSERT_TRUE(fs::exists(profile)) << "the first start wrote no profile.ini";
        ::WritePrivateProfileStringW(L"Update", L"DownloadedVersion", L"1.0.5.0", profile.c_str());
        const auto profileBefore = Bytes(profile);
        ASSERT_NO_FATAL_FAILURE(MakeProgramsOld(c.first));
        if (c.olderVersion) SetString(kUninstallKey, L"DisplayVersion", L"0.9.0.0");

        ASSERT_EQ(c.secondGivesFolder ? Install(c.first) : RunSetup(L""), 0);

        EXPECT_EQ(Bytes(profile), profileBefore) << "profile.ini changed";
        ExpectProgramsAsBuilt(c.first);
        std::set<std::wstring> expected = InstalledNames();
        expected.insert(L"profile.ini");
        EXPECT_EQ(FilesIn(c.first), expected);
        if (c.first != DefaultFolder()) {
            EXPECT_FALSE(fs::exists(DefaultFolder())) << "a second copy was installed";
        }
        EXPECT_EQ(SorvaneEntries(), 1);
        RegKey entry(kUninstallKey);
        EXPECT_EQ(entry.String(L"DisplayVersion").value_or(L""), SORVANE_VERSION_WTEXT);
        EXPECT_EQ(entry.String(L"InstallLocation").value_or(L""), c.first.wstring());
        EXPECT_EQ(SorvaneVerbs().size(), 1u);
    }
}

// A top-level window under the program's caption, on a thread of its own
// that answers messages while the set-up program runs: a Sorvane in a state
// the test chooses. It counts the WM_CLOSE it gets and never closes.
class StandInWindow {
public:
    StandInWindow(const wchar_t* title, bool enabled) {
        thread_ = std::thread([this, title, enabled] { Run(title, enabled); });
        WaitFor([&] { return ready_.load(); });
    }
    ~StandInWindow() {
        ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    StandInWindow(const StandInWindow&) = delete;
    StandInWindow& operator=(const StandInWindow&) = delete;

    bool shown() const { return window_ != nullptr; }
    int closeRequests() const { return closes_.load(); }

private:
    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wp, LPARAM lp) {
        if (message == WM_CLOSE) {
            auto* self = reinterpret_cast<StandInWindow*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
            if (self) ++self->closes_;
            return 0;  // as the dialog does during a restore: it stays
        }
        return ::DefWindowProcW(w, message, wp, lp);
    }
    void Run(const wchar_t* title, bool enabled) {
        threadId_ = ::GetCurrentThreadId();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"SorvaneStandIn";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(0, L"SorvaneStandIn", title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
        if (window_) {
            ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            ::EnableWindow(window_, enabled);
            ::ShowWindow(window_, SW_SHOW);
        }
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
        ready_ = true;
        while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        if (window_) ::DestroyWindow(window_);
        ::UnregisterClassW(L"SorvaneStandIn", windowClass.hInstance);
    }

    std::thread thread_;
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> ready_{false};
    std::atomic<int> closes_{0};
    HWND window_ = nullptr;
};

// Holds a file open the way a running program or a scanner does: others
// may read it, nobody may write or delete it.
OwnedHandle HoldFile(const fs::path& file) {
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "could not hold " << Utf8(file.wstring());
    return OwnedHandle(h);
}

TEST(RunningSorvane, AnIdleOneIsClosedAndTheRunGoesOn) {
    for (const bool uninstall : {false, true}) {
        SCOPED_TRACE(uninstall ? "silent uninstall" : "silent install over it");
        ASSERT_NO_FATAL_FAILURE(StartFromNothing());
        ASSERT_EQ(Install(DefaultFolder()), 0);
        OwnedHandle sorvane = Start(L"\"" + (DefaultFolder() / L"Sorvane.exe").wstring() + L"\"");
        ASSERT_NE(WaitForDialog(), nullptr);

        EXPECT_EQ(uninstall ? Uninstall() : RunSetup(L""), 0);

        EXPECT_EQ(ExitCodeOf(sorvane.get(), 5000), 0) << "the running Sorvane was not closed";
        if (uninstall) {
            EXPECT_FALSE(fs::exists(DefaultFolder())) << "the uninstall left the folder";
        } else {
            ExpectProgramsAsBuilt(DefaultFolder());
        }
    }
}

enum class Blocker {
    kRefusingDialog,     // a dialog in the middle of a restore: asked, it stays
    kAskingDialog,       // a dialog showing a question (disabled): not to be closed at all
    kHeldProgram,        // Sorvane.exe held open, no window to ask
    kHeldConsoleProgram, // sorvane-cli.exe held open (a console run has no window)
    kOtherWindow,        // another program's window titled plain "Sorvane"
};

struct BlockCase {
    const char* fault;
    Blocker blocker;
    bool uninstall;  // the silent run is an uninstall (else an install over the earlier one)
    bool stops;      // the run must stop with a non-zero exit code, changing nothing
};

TEST(RunningSorvane, WhatStaysOpenOrInUseStopsASilentRunBeforeAnyChange) {
    const BlockCase cases[] = {
        {"install: a dialog that stays open", Blocker::kRefusingDialog, false, true},
        {"install: a dialog asking a question is left alone", Blocker::kAskingDialog, false, true},
        {"install: Sorvane.exe in use", Blocker::kHeldProgram, false, true},
        {"install: sorvane-cli.exe in use", Blocker::kHeldConsoleProgram, false, true},
        {"install: a window titled only \"Sorvane\" is not the program's", Blocker::kOtherWindow, false, false},
        {"uninstall: a dialog that stays open", Blocker::kRefusingDialog, true, true},
        {"uninstall: sorvane-cli.exe in use", Blocker::kHeldConsoleProgram, true, true},
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(StartFromNothing());
        const fs::path folder = DefaultFolder();
        ASSERT_EQ(Install(folder), 0);
        ASSERT_NO_FATAL_FAILURE(MakeProgramsOld(folder));
        SetString(kUninstallKey, L"DisplayVersion", L"0.9.0.0");
        const std::set<std::wstring> filesBefore = FilesIn(folder);

        std::unique_ptr<StandInWindow> window;
        OwnedHandle held;
        switch (c.blocker) {
            case Blocker::kRefusingDialog: window = std::make_unique<StandInWindow>(kDialogTitle, true); break;
            case Blocker::kAskingDialog: window = std::make_unique<StandInWindow>(kDialogTitle, false); break;
            case Blocker::kOtherWindow: window = std::make_unique<StandInWindow>(L"Sorvane", true); break;
            case Blocker::kHeldProgram: held = HoldFile(folder / L"Sorvane.exe"); break;
            case Blocker::kHeldConsoleProgram: held = HoldFile(folder / L"sorvane-cli.exe"); break;
        }
        if (window) {
            ASSERT_TRUE(window->shown());
        }

        const long exitCode = c.uninstall ? Uninstall() : RunSetup(L"");

        if (!c.stops) {
            EXPECT_EQ(exitCode, 0);
            ExpectProgramsAsBuilt(folder);
            EXPECT_EQ(window->closeRequests(), 0) << "another program's window was asked to close";
            continue;
        }
        EXPECT_EQ(exitCode, 2) << "a silent run that could not finish must say so (0: success, -1: it did not end)";
        EXPECT_EQ(FilesIn(folder), filesBefore) << "files changed";
        EXPECT_TRUE(TextOf(folder / L"Sorvane.exe") == kOldProgram) << "Sorvane.exe was replaced";
        EXPECT_TRUE(TextOf(folder / L"sorvane-cli.exe") == kOldConsoleProgram) << "sorvane-cli.exe was replaced";
        EXPECT_EQ(RegKey(kUninstallKey).String(L"DisplayVersion").value_or(L"(absent)"), L"0.9.0.0")
            << "the Apps & features entry changed";
        EXPECT_EQ(SorvaneVerbs().size(), 1u) << "the context-menu verb changed";
        EXPECT_TRUE(fs::exists(Shortcut())) << "the shortcut was removed";
        if (c.blocker == Blocker::kRefusingDialog) {
            EXPECT_GE(window->closeRequests(), 1) << "it was never asked to close";
        }
        if (c.blocker == Blocker::kAskingDialog) {
            EXPECT_EQ(window->closeRequests(), 0) << "a question was closed under the user";
        }
    }
}

// What another program may keep on the .zip type, which the uninstall
// must leave as it found it.
enum class OnZipType {
    kNothing,     // the installer made the keys; they go with the verb
    kOtherVerb,   // another program's context-menu verb
    kOtherValue,  // a value of another program on the .zip key itself
};
const wchar_t kOtherVerbCommand[] = L"Software\\Classes\\SystemFileAssociations\\.zip\\shell\\OtherTool\\command";

struct LeftCase {
    const char* fault;
    fs::path folder;
    std::vector<std::wstring> userFiles;  // put in the folder before the uninstall
    OnZipType onZipType;
};

TEST(SilentUninstall, RemovesWhatItMadeAndKeepsWhatOthersPutThere) {
    const LeftCase cases[] = {
        {"nothing of others: the folder and the .zip keys go too", DefaultFolder(), {}, OnZipType::kNothing},
        {"from a /D= folder with Japanese in its name", kJapaneseFolder, {}, OnZipType::kNothing},
        {"a file the user put there stays, and the folder with it", DefaultFolder(), {L"メモ.txt"},
         OnZipType::kOtherVerb},
        {"url.ini is the user's (the installer put none there); a value on .zip stays", kJapaneseFolder,
         {L"url.ini"}, OnZipType::kOtherValue},
    };
    for (const LeftCase& c : cases) {
        SCOPED_TRACE(c.fault);
        ASSERT_NO_FATAL_FAILURE(StartFromNothing());
        if (c.onZipType == OnZipType::kOtherVerb) SetString(kOtherVerbCommand, L"", L"other.exe \"%1\"");
        if (c.onZipType == OnZipType::kOtherValue) SetString(kZipType, L"PerceivedType", L"compressed");
        ASSERT_EQ(Install(c.folder), 0);
        ASSERT_NO_FATAL_FAILURE(StartAndCloseSorvane(c.folder));
        ASSERT_TRUE(fs::exists(c.folder / L"profile.ini")) << "the program wrote no profile.ini";
        for (const std::wstring& name : c.userFiles) ASSERT_TRUE(WriteBytes(c.folder / name, "the user's\r\n"));

        EXPECT_EQ(Uninstall(), 0);

        const std::set<std::wstring> kept(c.userFiles.begin(), c.userFiles.end());
        EXPECT_EQ(FilesIn(c.folder), kept);
        EXPECT_EQ(fs::exists(c.folder), !kept.empty()) << "the folder goes exactly when nothing is left in it";
        if (!kept.empty()) {
            EXPECT_FALSE(fs::exists(c.folder / L"notices")) << "an empty notices folder stayed";
        }
        EXPECT_FALSE(KeyExists(kUninstallKey)) << "the Apps & features entry stayed";
        EXPECT_EQ(SorvaneEntries(), 0);
        EXPECT_TRUE(SorvaneVerbs().empty()) << "the context-menu verb stayed";
        EXPECT_FALSE(fs::exists(Shortcut())) << "the Start-menu shortcut stayed";
        switch (c.onZipType) {
            case OnZipType::kNothing:
                EXPECT_FALSE(KeyExists(kZipType)) << "the .zip keys the installer made stayed";
                break;
            case OnZipType::kOtherVerb:
                EXPECT_EQ(RegKey(kOtherVerbCommand).String(L"").value_or(L"(gone)"), L"other.exe \"%1\"");
                break;
            case OnZipType::kOtherValue:
                EXPECT_EQ(RegKey(kZipType).String(L"PerceivedType").value_or(L"(gone)"), L"compressed");
                break;
        }
    }
}

}  // namespace
