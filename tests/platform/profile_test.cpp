// Profile files. On Windows these tests run the system's profile functions,
// natively our own reader and writer: the same table holds both to one
// behaviour, byte layout of the file included where both agree.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder under the temporary folder, removed with its files.
class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path_ = fs::temp_directory_path() / ("sorvane-profile-" + std::to_string(random()) + std::to_string(random()));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    fs::path operator/(const char* name) const { return path_ / name; }
    std::u16string U16(const char* name) const { return (path_ / name).u16string(); }

private:
    fs::path path_;
};

bool WriteFileBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> ReadFileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Utf8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

std::vector<std::uint8_t> Bytes(std::string_view s) { return std::vector<std::uint8_t>(s.begin(), s.end()); }
std::string Text(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

// A profile in the ANSI code page (932): "値" is 92 6C, "テスト" 83 65 83 58 83 67.
const char kSample[] =
    "[Update]\r\n"
    "UpdateSiteURL=http://a.example/x.ini\r\n"
    "CurrentVersion=1.0.0.0\r\n"
    "Empty=\r\n"
    "  Padded  =   spaced value   \r\n"
    "Quoted=\"in quotes\"\r\n"
    "Long=0123456789ABCDEF\r\n"
    "Japanese=\x83\x65\x83\x58\x83\x67\r\n"
    "Bare\r\n"
    "\r\n"
    "[other]\r\n"
    "CurrentVersion=9.9.9.9\r\n"
    "[update]\r\n"
    "Second=from a repeated section\r\n";

struct ReadCase {
    const char* fault;
    std::u16string section;
    std::u16string key;
    std::u16string defaultValue;
    std::size_t capacity;
    std::u16string expected;
};

const ReadCase kReads[] = {
    {"plain value", u"Update", u"CurrentVersion", u"d", 31, u"1.0.0.0"},
    {"section and key without regard to case", u"UPDATE", u"currentversion", u"d", 31, u"1.0.0.0"},
    {"the other section's key stays apart", u"Other", u"CurrentVersion", u"d", 31, u"9.9.9.9"},
    {"empty value is empty, not the default", u"Update", u"Empty", u"d", 31, u""},
    {"absent key reads as the default", u"Update", u"Missing", u"fallback", 31, u"fallback"},
    {"absent section reads as the default", u"Nowhere", u"CurrentVersion", u"fallback", 31, u"fallback"},
    {"default loses trailing blanks", u"Update", u"Missing", u"fallback  ", 31, u"fallback"},
    {"default cut to the capacity", u"Update", u"Missing", u"0123456789", 4, u"0123"},
    {"blanks around key and value ignored", u"Update", u"Padded", u"d", 31, u"spaced value"},
    {"matching quotes removed", u"Update", u"Quoted", u"d", 31, u"in quotes"},
    {"value cut to the capacity", u"Update", u"Long", u"d", 10, u"0123456789"},
    {"value exactly at the capacity", u"Update", u"Long", u"d", 16, u"0123456789ABCDEF"},
    {"value in code page 932", u"Update", u"Japanese", u"d", 31, u"テスト"},
    {"first of two same-named sections only", u"Update", u"Second", u"absent", 31, u"absent"},
    {"a bare key without \"=\" read as an empty value", u"Update", u"Bare", u"fallback", 31, u"fallback"},
};

TEST(Profile, ReadsValuesWithTheSystemRules) {
    TempFolder folder;
    const std::u16string file = folder.U16("sample.ini");
    ASSERT_TRUE(WriteFileBytes(folder / "sample.ini", Bytes(kSample)));
    for (const auto& c : kReads) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(platform::ReadIniValue(file, c.section, c.key, c.defaultValue, c.capacity)), Utf8(c.expected));
    }
    EXPECT_EQ(Utf8(platform::ReadIniValue(folder.U16("absent.ini"), u"Update", u"CurrentVersion", u"none", 31)),
              "none");
}

TEST(Profile, FirstWriteCreatesTheFileInTheAnsiCodePageWithCrlf) {
    TempFolder folder;
    const std::u16string file = folder.U16("profile.ini");
    ASSERT_FALSE(platform::PathExists(file));
    ASSERT_TRUE(platform::WriteIniValue(file, u"Update", u"Name", u"値"));
    EXPECT_EQ(Text(ReadFileBytes(folder / "profile.ini")), "[Update]\r\nName=\x92\x6C\r\n");
    EXPECT_EQ(Utf8(platform::ReadIniValue(file, u"Update", u"Name", u"", 31)), "値");
}

TEST(Profile, WritesChangeOnlyTheirOwnKey) {
    struct Write {
        std::u16string section, key, value;
    };
    const Write writes[] = {
        {u"update", u"CURRENTVERSION", u"2.0.0.0"},  // existing key, other case
        {u"Update", u"Empty", u"filled"},            // existing empty key
        {u"Update", u"Added", u"new key"},           // new key in an existing section
        {u"Fresh", u"Key", u"new section"},          // new section
        {u"Update", u"Japanese", u"日本語"},
    };
    const ReadCase after[] = {
        {"rewritten key", u"Update", u"CurrentVersion", u"d", 31, u"2.0.0.0"},
        {"filled key", u"Update", u"Empty", u"d", 31, u"filled"},
        {"added key", u"Update", u"Added", u"d", 31, u"new key"},
        {"added section", u"Fresh", u"Key", u"d", 31, u"new section"},
        {"rewritten Japanese value", u"Update", u"Japanese", u"d", 31, u"日本語"},
        {"untouched key before", u"Update", u"UpdateSiteURL", u"d", 63, u"http://a.example/x.ini"},
        {"untouched padded key", u"Update", u"Padded", u"d", 31, u"spaced value"},
        {"untouched quoted key", u"Update", u"Quoted", u"d", 31, u"in quotes"},
        {"untouched key of the other section", u"other", u"CurrentVersion", u"d", 31, u"9.9.9.9"},
    };
    TempFolder folder;
    const std::u16string file = folder.U16("sample.ini");
    ASSERT_TRUE(WriteFileBytes(folder / "sample.ini", Bytes(kSample)));
    for (const auto& w : writes) EXPECT_TRUE(platform::WriteIniValue(file, w.section, w.key, w.value));
    for (const auto& c : after) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(platform::ReadIniValue(file, c.section, c.key, c.defaultValue, c.capacity)), Utf8(c.expected));
    }
    // Stored in code page 932 ("日本語" is 93 FA 96 7B 8C EA), lines ending in CRLF.
    const std::string bytes = Text(ReadFileBytes(folder / "sample.ini"));
    EXPECT_NE(bytes.find("Japanese=\x93\xFA\x96\x7B\x8C\xEA\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("=2.0.0.0\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("[Fresh]\r\nKey=new section\r\n"), std::string::npos) << bytes;
}

TEST(Profile, WriteWithEmptyValueLeavesAnEmptyKey) {
    TempFolder folder;
    const std::u16string file = folder.U16("p.ini");
    ASSERT_TRUE(platform::WriteIniValue(file, u"URL", u"UpdateSiteURL", u"x"));
    ASSERT_TRUE(platform::WriteIniValue(file, u"URL", u"UpdateSiteURL", u""));
    EXPECT_EQ(Utf8(platform::ReadIniValue(file, u"URL", u"UpdateSiteURL", u"default", 31)), "");
}

}  // namespace
