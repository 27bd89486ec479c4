// The Windows path rules: on Windows the shell's functions, elsewhere our
// own. One table holds both to the same results.

#include <gtest/gtest.h>

#include <string>

#include "platform/path_rules.h"
#include "platform/text.h"

namespace {

std::string Utf8(std::u16string_view s) { return platform::Utf16ToUtf8(s); }

struct PathCase {
    const char* fault;
    std::u16string path;
    std::u16string withoutLast;  // PathRemoveFileSpecW
    std::u16string last;         // PathFindFileNameW
};

const PathCase kPaths[] = {
    {"file in a folder", u"C:\\Data\\a.txt", u"C:\\Data", u"a.txt"},
    {"trailing backslash", u"C:\\Data\\Photos\\", u"C:\\Data\\Photos", u"Photos\\"},
    {"item at a drive root", u"C:\\a", u"C:\\", u"a"},
    {"drive root is kept", u"C:\\", u"C:\\", u"C:\\"},
    {"bare drive is kept", u"C:", u"C:", u"C:"},
    {"drive-relative item", u"C:a", u"C:", u"a"},
    {"UNC share", u"\\\\server\\share", u"\\\\server", u"share"},
    {"below a UNC share", u"\\\\server\\share\\dir", u"\\\\server\\share", u"dir"},
    {"UNC server alone", u"\\\\server", u"\\\\", u"server"},
    {"rooted without drive", u"\\a", u"\\", u"a"},
    {"root alone", u"\\", u"\\", u"\\"},
    {"relative single element", u"name", u"", u"name"},
    {"relative nested", u"a\\b", u"a", u"b"},
    {"empty", u"", u"", u""},
    {"slash is not a folder separator for removal", u"C:\\a/b", u"C:\\", u"b"},
    {"double backslash inside", u"C:\\a\\\\b", u"C:\\a\\", u"b"},
    {"Japanese names", u"D:\\写真\\旅行", u"D:\\写真", u"旅行"},
};

TEST(PathRules, RemoveLastPathElementFollowsTheShell) {
    for (const auto& c : kPaths) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(platform::RemoveLastPathElement(c.path)), Utf8(c.withoutLast));
    }
}

TEST(PathRules, LastPathElementFollowsTheShell) {
    for (const auto& c : kPaths) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(platform::LastPathElement(c.path)), Utf8(c.last));
    }
}

struct RootCase {
    const char* fault;
    std::u16string path;
    std::size_t root;  // units that name where the path is rooted
};

TEST(PathRules, RootsAreNeverTakenForFoldersToMake) {
    const RootCase cases[] = {
        {"drive root", u"D:\\a\\b\\", 3},
        {"drive root with slashes", u"d:/a/", 3},
        {"share taken for a folder", u"\\\\server\\share\\dir\\", 15},
        {"share alone", u"\\\\server\\share\\", 15},
        {"share without its separator", u"\\\\server\\share", 14},
        {"long drive form", u"\\\\?\\C:\\復元\\", 7},
        {"long share form", u"\\\\?\\UNC\\server\\share\\dir\\", 21},
        {"volume name", u"\\\\?\\Volume{1234}\\x\\", 17},
        {"device namespace drive", u"\\\\.\\C:\\x\\", 7},
        {"POSIX root", u"/tmp/a/", 1},
        {"rooted without a drive", u"\\a\\", 1},
        {"relative path", u"a\\b\\", 0},
        {"empty", u"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(platform::PathRootLength(c.path), c.root);
    }
}

TEST(PathRules, LongPathsGoToWin32CallsInTheLongForm) {
    const std::u16string deep = u"\\" + std::u16string(300, u'd');
    const struct {
        const char* fault;
        std::u16string path;
        std::u16string form;
    } cases[] = {
        {"long drive path left plain", u"C:" + deep, u"\\\\?\\C:" + deep},
        {"long share path given the drive form", u"\\\\srv\\share" + deep, u"\\\\?\\UNC\\srv\\share" + deep},
        {"slash kept in the long form", u"C:/a" + deep, u"\\\\?\\C:\\a" + deep},
        {"long form prefixed twice", u"\\\\?\\C:" + deep, u"\\\\?\\C:" + deep},
        {"short path changed", u"C:\\a\\b.txt", u"C:\\a\\b.txt"},
        {"path just below the threshold changed", u"C:\\" + std::u16string(platform::kLongFormFrom - 4, u'x'),
         u"C:\\" + std::u16string(platform::kLongFormFrom - 4, u'x')},
        {"relative path made absolute", std::u16string(300, u'r'), std::u16string(300, u'r')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(platform::LongPathForm(c.path)), Utf8(c.form));
    }
}

}  // namespace
