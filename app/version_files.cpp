// The version files beside the executable and the update decision. The tool
// never contacts the update site: it keeps profile.ini filled for the update
// program, records its own version there, and only looks at what the update
// program left (DownloadedVersion and the downloaded set-up program).

#include "app/vantrel_app.h"

#include "platform/fs.h"
#include "platform/path_rules.h"
#include "platform/profile.h"
#include "platform/version_resource.h"
#include "ui/backup_name.h"

const char16_t kDefaultUpdateSiteUrl[] = u"http://update.sorvane.example/installer/quenlot/restore/latestversion.ini";

namespace {

constexpr char16_t kProfileName[] = u"profile.ini";
constexpr char16_t kUrlIniName[] = u"url.ini";
constexpr char16_t kSetupName[] = u"tindrel_set_up.exe";
constexpr char16_t kUpdateSection[] = u"Update";
constexpr char16_t kUrlSection[] = u"URL";
constexpr char16_t kUpdateSiteUrlKey[] = u"UpdateSiteURL";
constexpr char16_t kCurrentVersionKey[] = u"CurrentVersion";
constexpr char16_t kPassedVersionKey[] = u"PassedVersion";
constexpr char16_t kDownloadedVersionKey[] = u"DownloadedVersion";
constexpr char16_t kSeedVersion[] = u"0.0.0.0";

// Longest values taken from the files. url.ini's URL may be longer when
// profile.ini is being created than when it is refreshed; both are kept.
constexpr std::size_t kUrlCapacityOnCreate = 1023;
constexpr std::size_t kUrlCapacity = 259;
constexpr std::size_t kVersionCapacity = 31;

std::u16string Beside(const std::u16string& folder, const char16_t* name) {
    return folder + platform::kPathSeparator + name;
}

}  // namespace

VersionNumbers ParseVersion(const std::u16string& text) {
    VersionNumbers numbers;
    std::size_t position = 0;
    for (int i = 0; i < 4; ++i) numbers.push_back(nametext::ReadDecimal(nametext::NextToken(text, u'.', position)));
    return numbers;
}

bool IsNewerVersion(const VersionNumbers& a, const VersionNumbers& b) {
    for (std::size_t i = 0; i < 4; ++i) {
        const std::int32_t x = i < a.size() ? a[i] : 0;
        const std::int32_t y = i < b.size() ? b[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

bool CVantrelApp::LocateFiles() { return LocateFilesFor(platform::ModulePath()); }

bool CVantrelApp::LocateFilesFor(const std::u16string& modulePath) {
    m_strModulePath = modulePath;
    m_strModuleFolder = platform::NativeFolderOf(m_strModulePath);
    // Without a folder the file names would resolve against the root of the
    // drive (or the file system); the files are then simply not found.
    if (m_strModuleFolder.empty()) {
        m_strProfilePath.clear();
        return false;
    }
    m_strProfilePath = Beside(m_strModuleFolder, kProfileName);
    return platform::PathExists(m_strProfilePath);
}

bool CVantrelApp::CreateProfile() {
    if (m_strModuleFolder.empty()) return false;
    m_strUrlIniPath = Beside(m_strModuleFolder, kUrlIniName);
    m_strUpdateSiteUrl =
        platform::ReadIniValue(m_strUrlIniPath, kUrlSection, kUpdateSiteUrlKey, kDefaultUpdateSiteUrl, kUrlCapacityOnCreate);
    // An empty URL given on purpose in url.ini means: no profile yet.
    if (m_strUpdateSiteUrl.empty()) return false;
    if (!ReadProductVersion() || m_strProductVersion.empty()) return false;
    platform::WriteIniValue(m_strProfilePath, kUpdateSection, kUpdateSiteUrlKey, m_strUpdateSiteUrl);
    platform::WriteIniValue(m_strProfilePath, kUpdateSection, kCurrentVersionKey, m_strProductVersion);
    platform::WriteIniValue(m_strProfilePath, kUpdateSection, kPassedVersionKey, kSeedVersion);
    platform::WriteIniValue(m_strProfilePath, kUpdateSection, kDownloadedVersionKey, kSeedVersion);
    return true;
}

bool CVantrelApp::RefreshProfile() {
    if (m_strModuleFolder.empty()) return false;
    m_strUrlIniPath = Beside(m_strModuleFolder, kUrlIniName);
    // A URL already in profile.ini wins over url.ini: the update program may
    // have been pointed elsewhere since.
    if (platform::ReadIniValue(m_strProfilePath, kUpdateSection, kUpdateSiteUrlKey, u"", kUrlCapacity).empty()) {
        m_strUpdateSiteUrl =
            platform::ReadIniValue(m_strUrlIniPath, kUrlSection, kUpdateSiteUrlKey, kDefaultUpdateSiteUrl, kUrlCapacity);
        platform::WriteIniValue(m_strProfilePath, kUpdateSection, kUpdateSiteUrlKey, m_strUpdateSiteUrl);
    }
    if (!ReadProductVersion() || m_strProductVersion.empty()) return false;
    platform::WriteIniValue(m_strProfilePath, kUpdateSection, kCurrentVersionKey, m_strProductVersion);
    if (platform::ReadIniValue(m_strProfilePath, kUpdateSection, kPassedVersionKey, u"", kVersionCapacity).empty())
        platform::WriteIniValue(m_strProfilePath, kUpdateSection, kPassedVersionKey, kSeedVersion);
    if (platform::ReadIniValue(m_strProfilePath, kUpdateSection, kDownloadedVersionKey, u"", kVersionCapacity).empty())
        platform::WriteIniValue(m_strProfilePath, kUpdateSection, kDownloadedVersionKey, kSeedVersion);
    return true;
}

bool CVantrelApp::ReadProductVersion() {
    std::u16string version;
    if (!platform::QueryProductVersion(m_strModulePath, version)) return false;
    m_strProductVersion = version;
    return true;
}

bool CVantrelApp::IsUpdatePending() {
    if (m_strModuleFolder.empty()) return false;
    m_strSetupPath = Beside(m_strModuleFolder, kSetupName);
    m_strCurrentVersion = platform::ReadIniValue(m_strProfilePath, kUpdateSection, kCurrentVersionKey, u"", kVersionCapacity);
    m_strPassedVersion = platform::ReadIniValue(m_strProfilePath, kUpdateSection, kPassedVersionKey, u"", kVersionCapacity);
    m_strDownloadedVersion =
        platform::ReadIniValue(m_strProfilePath, kUpdateSection, kDownloadedVersionKey, u"", kVersionCapacity);
    if (!platform::PathExists(m_strSetupPath)) return false;
    if (IsNewerVersion(ParseVersion(m_strDownloadedVersion), ParseVersion(m_strCurrentVersion))) return true;
    // Not newer: an old or repeated download is removed so it is not
    // offered again.
    platform::RemoveFile(m_strSetupPath);
    return false;
}
