// Sorvane.exe started the way a user starts it, in a folder of its own with
// stand-ins for the update program ("Pellmoor.exe") and the set-up program
// ("tindrel_set_up.exe") that note when they run. The test answers the real
// message boxes and closes the real dialog, found by their windows.

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/vantrel_app.h"
#include "product_version.h"
#include "platform/wide.h"
#include "tests/support/temp_folder.h"
#include "tests/support/start_process_win32.h"

namespace {

namespace fs = std::filesystem;

// Build paths are Linux paths; Wine shows the root file system as Z:.
fs::path FromBuild(const char* unixPath) {
    std::string p = std::string("Z:") + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return fs::path(p);
}

std::u16string Text(HWND window) {
    wchar_t text[1024] = {};
    const int length = ::GetWindowTextW(window, text, 1024);
    return U16(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::u16string ClassOf(HWND window) {
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return U16(name);
}

// The top-level windows of one process.
std::vector<HWND> WindowsOf(DWORD pid) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    ::EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(w, &owner);
            if (owner == s->pid && ::IsWindowVisible(w)) s->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitFor(const std::function<bool()>& done, DWORD milliseconds = 20000) {
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    while (!done()) {
        if (::GetTickCount64() >= deadline) return false;
        ::Sleep(50);
    }
    return true;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>;

struct RunningProgram {
    OwnedHandle process;
    std::wstring image;  // full path, lower case
};

// The processes that run a program from `root` or below right now. A
// program that was started is listed from the moment its creator's
// CreateProcess returned, until it ends.
std::vector<RunningProgram> RunningFrom(const fs::path& root) {
    std::vector<RunningProgram> found;
    const std::wstring prefix = Lower(root.wstring() + L"\\");
    OwnedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no process list: error " << ::GetLastError();
        snapshot.release();
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        OwnedHandle process(
            ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process) continue;  // ended since the snapshot
        wchar_t image[1024] = {};
        DWORD size = 1024;
        if (!::QueryFullProcessImageNameW(process.get(), 0, image, &size)) continue;
        std::wstring path = Lower(std::wstring(image, size));
        if (path.rfind(prefix, 0) == 0) found.push_back({std::move(process), std::move(path)});
    }
    return found;
}

class Program {
public:
    explicit Program(const fs::path& exe, const std::wstring& arguments = L"") {
        std::wstring line = L"\"" + exe.wstring() + L"\"";
        if (!arguments.empty()) line += L" " + arguments;
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        started_ = testsupport::StartProcess(exe.c_str(), line, FALSE, 0, exe.parent_path().c_str(), startup, info_);
    }
    ~Program() {
        if (!started_) return;
        if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(info_.hProcess, 9);
        ::CloseHandle(info_.hThread);
        ::CloseHandle(info_.hProcess);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool started() const { return started_; }
    DWORD pid() const { return info_.dwProcessId; }
    bool Ended(DWORD milliseconds = 20000) const {
        return ::WaitForSingleObject(info_.hProcess, milliseconds) == WAIT_OBJECT_0;
    }
    // A visible top-level window of this process with the given title and
    // class (any class when empty).
    HWND FindWindowTitled(const std::u16string& title, const std::u16string& cls = u"") const {
        for (HWND w : WindowsOf(pid()))
            if (Text(w) == title && (cls.empty() || ClassOf(w) == cls)) return w;
        return nullptr;
    }
    HWND WaitForWindow(const std::u16string& title, const std::u16string& cls = u"") const {
        HWND found = nullptr;
        WaitFor([&] { return (found = FindWindowTitled(title, cls)) != nullptr || Ended(0); });
        return found;
    }
    // Until the program waits for input with nothing queued: its start-up
    // (showing, placing, focusing its window) is over.
    bool WaitUntilIdle() const { return ::WaitForInputIdle(info_.hProcess, 10000) == 0; }

private:
    bool started_ = false;
    PROCESS_INFORMATION info_{};
};

class ProgramStart : public ::testing::Test {
protected:
    void SetUp() override {
        // A folder name with a space: started without quotes, the update
        // program's path would make Windows try "...\my.exe" first.
        folder = temp / "my tools";
        fs::create_directory(folder);
        fs::copy_file(FromBuild(SORVANE_PROGRAM), folder / "Sorvane.exe");
        fs::copy_file(FromBuild(SORVANE_STUB), folder / "Pellmoor.exe");
        fs::copy_file(FromBuild(SORVANE_STUB), temp / "my.exe");
    }

    void PlaceSetupProgram(const char* downloadedVersion) {
        fs::copy_file(FromBuild(SORVANE_STUB), folder / "tindrel_set_up.exe");
        const std::wstring profile = (folder / "profile.ini").wstring();
        ::WritePrivateProfileStringW(L"Update", L"UpdateSiteURL", L"http://example.invalid/latestversion.ini",
                                     profile.c_str());
        ::WritePrivateProfileStringW(L"Update", L"CurrentVersion", L"1.0.0.0", profile.c_str());
        ::WritePrivateProfileStringW(L"Update", L"PassedVersion", L"0.0.0.0", profile.c_str());
        const std::wstring version(downloadedVersion, downloadedVersion + std::strlen(downloadedVersion));
        ::WritePrivateProfileStringW(L"Update", L"DownloadedVersion", version.c_str(), profile.c_str());
    }

    // Lines a stand-in wrote, one per run.
    std::vector<std::string> RunsOf(const fs::path& program) const {
        std::vector<std::string> lines;
        std::ifstream in(fs::path(program.wstring() + L".log"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::string Quoted(const fs::path& program) const {
        const std::u16string p = program.u16string();
        std::string utf8;
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, W(p), -1, nullptr, 0, nullptr, nullptr);
        utf8.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_UTF8, 0, W(p), -1, utf8.data(), size, nullptr, nullptr);
        utf8.resize(utf8.size() - 1);
        return "\"" + utf8 + "\"";
    }
    std::wstring ProfileValue(const wchar_t* key) const {
        wchar_t value[64] = {};
        ::GetPrivateProfileStringW(L"Update", key, L"(absent)", value, 64, (folder / "profile.ini").c_str());
        return value;
    }
    // Waits for the end of every stand-in that has been started, so that
    // their logs hold all they will ever hold: a program that should not
    // have run is seen in its log however slowly it started.
    void WaitForStandInsToEnd() const {
        const std::wstring sorvane = Lower((folder / "Sorvane.exe").wstring());
        for (const RunningProgram& p : RunningFrom(temp.path())) {
            if (p.image == sorvane) continue;
            EXPECT_EQ(::WaitForSingleObject(p.process.get(), 20000), WAIT_OBJECT_0) << "a stand-in did not end";
        }
    }
    void ExpectDecoyNeverRan() const {
        WaitForStandInsToEnd();
        EXPECT_FALSE(fs::exists(temp / "my.exe.log")) << "an unquoted command line started the wrong program";
    }
    static std::vector<std::u16string> ChildTexts(HWND window) {
        std::vector<std::u16string> texts;
        for (HWND c = ::GetWindow(window, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) texts.push_back(Text(c));
        return texts;
    }

    testsupport::TempFolder temp;
    fs::path folder;
};

TEST_F(ProgramStart, FirstStartCreatesProfileStartsUpdateProgramShowsDialog) {
    Program sorvane(folder / "Sorvane.exe");
    ASSERT_TRUE(sorvane.started());
    HWND dialog = sorvane.WaitForWindow(kRestoreDialogTitle);
    ASSERT_NE(dialog, nullptr) << "no restore dialog appeared";
    ASSERT_TRUE(WaitFor([&] { return RunsOf(folder / "Pellmoor.exe").size() == 1; }));
    EXPECT_EQ(RunsOf(folder / "Pellmoor.exe")[0], Quoted(folder / "Pellmoor.exe"));
    EXPECT_EQ(ProfileValue(L"CurrentVersion"), L"1.0.0.0");
    EXPECT_EQ(ProfileValue(L"PassedVersion"), L"0.0.0.0");
    EXPECT_EQ(ProfileValue(L"DownloadedVersion"), L"0.0.0.0");
    // The process list finds programs of the test's folder (the waits for
    // stand-ins rely on it): the running tool is among them.
    const std::wstring self = Lower((folder / "Sorvane.exe").wstring());
    const auto running = RunningFrom(temp.path());
    EXPECT_TRUE(std::any_of(running.begin(), running.end(), [&](const RunningProgram& p) { return p.image == self; }));
    ExpectDecoyNeverRan();

    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(sorvane.Ended()) << "closing the dialog ends the program";
}

TEST_F(ProgramStart, PendingUpdateAnsweredYesStartsOnlySetupProgram) {
    PlaceSetupProgram("1.0.1.0");
    Program sorvane(folder / "Sorvane.exe");
    ASSERT_TRUE(sorvane.started());
    HWND box = sorvane.WaitForWindow(u"Sorvane", u"#32770");
    ASSERT_NE(box, nullptr) << "no update question";
    const auto texts = ChildTexts(box);
    EXPECT_NE(std::find(texts.begin(), texts.end(), kUpdateQuestion), texts.end());
    ::PostMessageW(box, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(sorvane.Ended()) << "the tool ends after handing over";
    ASSERT_TRUE(WaitFor([&] { return RunsOf(folder / "tindrel_set_up.exe").size() == 1; }));
    EXPECT_EQ(RunsOf(folder / "tindrel_set_up.exe")[0], Quoted(folder / "tindrel_set_up.exe"));
    // The tool has ended: whatever it started is running or done by now.
    WaitForStandInsToEnd();
    EXPECT_TRUE(RunsOf(folder / "Pellmoor.exe").empty()) << "the update program must not start";
    ExpectDecoyNeverRan();
}

TEST_F(ProgramStart, PendingUpdateAnsweredNoStartsUpdateProgramAndDialog) {
    PlaceSetupProgram("1.0.1.0");
    Program sorvane(folder / "Sorvane.exe");
    ASSERT_TRUE(sorvane.started());
    HWND box = sorvane.WaitForWindow(u"Sorvane", u"#32770");
    ASSERT_NE(box, nullptr) << "no update question";
    ::PostMessageW(box, WM_COMMAND, IDNO, 0);
    HWND dialog = sorvane.WaitForWindow(kRestoreDialogTitle);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitFor([&] { return RunsOf(folder / "Pellmoor.exe").size() == 1; }));
    EXPECT_TRUE(RunsOf(folder / "tindrel_set_up.exe").empty());
    EXPECT_TRUE(fs::exists(folder / "tindrel_set_up.exe")) << "the pending set-up program stays for next time";
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(sorvane.Ended());
}

TEST_F(ProgramStart, SecondInstanceStartsUpdateProgramAndBringsFirstForward) {
    Program first(folder / "Sorvane.exe");
    ASSERT_TRUE(first.started());
    HWND dialog = first.WaitForWindow(kRestoreDialogTitle);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitFor([&] { return RunsOf(folder / "Pellmoor.exe").size() == 1; }));

    Program second(folder / "Sorvane.exe");
    ASSERT_TRUE(second.started());
    bool secondShowedDialog = false;
    const bool ended = WaitFor([&] {
        secondShowedDialog = secondShowedDialog || second.FindWindowTitled(kRestoreDialogTitle) != nullptr;
        return second.Ended(0);
    });
    ASSERT_TRUE(ended) << "the second instance must end by itself";
    EXPECT_FALSE(secondShowedDialog);
    ASSERT_TRUE(WaitFor([&] { return RunsOf(folder / "Pellmoor.exe").size() == 2; }))
        << "the second instance starts the update program too";
    EXPECT_TRUE(::IsWindow(dialog));
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_EQ(::GetForegroundWindow(), dialog);

    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(first.Ended());
}

// An edit control's text in another process: WM_GETTEXT is carried across,
// GetWindowTextW is not.
std::u16string ControlText(HWND dialog, int id) {
    wchar_t text[1024] = {};
    ::SendMessageW(::GetDlgItem(dialog, id), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return U16(text);
}

constexpr wchar_t kBackupName[] = L"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip";  // D:\Data\Photos

TEST_F(ProgramStart, StartedWithAnArchiveShowsItSelected) {
    // Relative to the current folder (the program's): made absolute, as the
    // file-open dialog would have given it.
    Program sorvane(folder / "Sorvane.exe", std::wstring(L"\"") + kBackupName + L"\"");
    ASSERT_TRUE(sorvane.started());
    HWND dialog = sorvane.WaitForWindow(kRestoreDialogTitle);
    ASSERT_NE(dialog, nullptr);
    const std::u16string expected = (folder / kBackupName).u16string();
    EXPECT_TRUE(WaitFor([&] { return ControlText(dialog, 1000) == expected; }, 5000));
    EXPECT_EQ(ControlText(dialog, 1008), u"Photos");
    EXPECT_EQ(ControlText(dialog, 1007), u"D:\\Data\\");
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(sorvane.Ended());
}

TEST_F(ProgramStart, SecondInstanceWithAnArchiveHandsItToTheFirst) {
    Program first(folder / "Sorvane.exe");
    ASSERT_TRUE(first.started());
    HWND dialog = first.WaitForWindow(kRestoreDialogTitle);
    ASSERT_NE(dialog, nullptr);
    const fs::path archive = temp.path() / kBackupName;
    Program second(folder / "Sorvane.exe", L"\"" + archive.wstring() + L"\"");
    ASSERT_TRUE(second.started());
    bool secondShowedDialog = false;
    ASSERT_TRUE(WaitFor([&] {
        secondShowedDialog = secondShowedDialog || second.FindWindowTitled(kRestoreDialogTitle) != nullptr;
        return second.Ended(0);
    })) << "the second instance must end by itself";
    EXPECT_FALSE(secondShowedDialog);
    EXPECT_TRUE(WaitFor([&] { return ControlText(dialog, 1000) == archive.u16string(); }, 5000))
        << "the first instance did not select the handed-over archive";
    EXPECT_EQ(ControlText(dialog, 1008), u"Photos");
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(first.Ended());
}

// "Open with" while the first window sits minimized on the taskbar: the
// handed-over archive must come with the window, not stay a button.
TEST_F(ProgramStart, SecondInstanceRestoresAMinimizedFirstOne) {
    Program first(folder / "Sorvane.exe");
    ASSERT_TRUE(first.started());
    HWND dialog = first.WaitForWindow(kRestoreDialogTitle);
    ASSERT_NE(dialog, nullptr);
    // Minimized before the program has shown its window its own way, the
    // window would come back by the program's start-up, not the hand-over.
    ASSERT_TRUE(first.WaitUntilIdle());
    // Wine leaves a window it does not manage as it is (the tests run
    // without a window manager): there the case can't be set up.
    if (!WaitFor(
            [&] {
                if (::IsIconic(dialog)) return true;
                ::ShowWindow(dialog, SW_MINIMIZE);
                return false;
            },
            5000)) {
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        first.Ended();
        GTEST_SKIP() << "the window could not be minimized here";
    }
    const fs::path archive = temp.path() / kBackupName;
    Program second(folder / "Sorvane.exe", L"\"" + archive.wstring() + L"\"");
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(WaitFor([&] { return second.Ended(0); })) << "the second instance must end by itself";
    EXPECT_TRUE(WaitFor([&] { return ControlText(dialog, 1000) == archive.u16string(); }, 5000));
    EXPECT_FALSE(::IsIconic(dialog)) << "the first instance stayed minimized";
    EXPECT_TRUE(::IsWindowVisible(dialog));
    ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(first.Ended());
}

TEST(ProgramFile, ManifestDeclaresDpiAwarenessAndSupportedSystems) {
    const fs::path exe = FromBuild(SORVANE_PROGRAM);
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr);
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(module, manifest)));
    std::string xml(text, ::SizeofResource(module, manifest));
    ::FreeLibrary(module);
    // Comments say nothing to Windows: only elements count.
    for (std::size_t at; (at = xml.find("<!--")) != std::string::npos;) xml.erase(at, xml.find("-->", at) + 3 - at);
    // The element within its parent, as Windows reads it (namespaces too:
    // a setting in the wrong one is silently ignored).
    const auto inside = [&](const std::string& parent, const std::string& element) {
        const std::size_t open = xml.find(parent);
        if (open == std::string::npos) return false;
        const std::string tag = parent.substr(1, parent.find_first_of(" >") - 1);
        const std::size_t close = xml.find("</" + tag + ">", open);
        const std::size_t found = xml.find(element, open);
        return found != std::string::npos && close != std::string::npos && found < close;
    };
    const std::string settings = "<windowsSettings>";
    const std::string compat = "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">";
    struct Case {
        const char* fault;
        std::string parent, element;
    };
    const Case cases[] = {
        {"settings in the asm.v3 application element", "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
         settings},
        {"per-monitor v2, then system-aware",
         settings,
         "<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
         "System</dpiAwareness>"},
        {"system-aware before Windows 10 1607", settings,
         "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"},
        {"long paths not declared", settings,
         "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>"},
        {"Windows 7", compat, "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>"},
        {"Windows 8", compat, "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>"},
        {"Windows 8.1", compat, "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>"},
        {"Windows 10 and 11", compat, "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"},
        {"still elevated", "<requestedPrivileges>", "level=\"requireAdministrator\""},
        {"still Common Controls 6", "<dependentAssembly>",
         "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_TRUE(inside(c.parent, c.element));
    }
}

TEST(ProgramFile, CarriesManifestVersionBlockAndIcon) {
    const fs::path exe = FromBuild(SORVANE_PROGRAM);
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr);
    HRSRC manifest = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(manifest, nullptr) << "no manifest";
    const char* text = static_cast<const char*>(::LockResource(::LoadResource(module, manifest)));
    const std::string xml(text, ::SizeofResource(module, manifest));
    EXPECT_NE(xml.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(xml.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(::FindResourceW(module, MAKEINTRESOURCEW(128), MAKEINTRESOURCEW(14)), nullptr) << "no icon 128";
    ::FreeLibrary(module);

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));
    wchar_t* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\041103a4\\ProductVersion",
                                 reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(std::wstring(version), SORVANE_VERSION_WTEXT);
    WORD* translations = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                                 &length));
    ASSERT_EQ(length, 4u) << "one language block only";
    EXPECT_EQ(translations[0], 0x411);
    EXPECT_EQ(translations[1], 932);
}

}  // namespace
