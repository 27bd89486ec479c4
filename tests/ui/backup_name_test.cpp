// Backup file names: the grammar, its range checks, the Base64 variant, the
// code-page conversions, local time (fixed to JST, the users' zone) and the
// derived folder and item name. Runs natively and under Wine alike.

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "platform/local_time.h"
#include "platform/text.h"
#include "ui/backup_name.h"

namespace {

class JstEnvironment : public ::testing::Environment {
public:
    void SetUp() override { platform::SetProcessTimeZone("JST-9"); }
};
const auto* const kJst = ::testing::AddGlobalTestEnvironment(new JstEnvironment);

// Seconds since 1970 of a JST wall-clock time, by calendar arithmetic alone
// (no time-zone call), so the expectation does not share the code under test.
std::int64_t JstSeconds(int y, int m, int d, int hh, int mm, int ss) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hh * 3600 + mm * 60 + ss - 9 * 3600;
}

std::string Utf8(const std::u16string& s) { return platform::Utf16ToUtf8(s); }

struct ValidCase {
    const char* fault;
    std::u16string name;
    std::int64_t time;
    std::u16string timeText;
    std::u16string kind;
    std::u16string originalPath;
    std::u16string itemName;
    std::u16string parentFolder;
};

const std::int64_t kExampleTime = JstSeconds(2013, 10, 8, 8, 17, 17);

const ValidCase kValidNames[] = {
    {"worked example", u"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip", kExampleTime, u"2013/10/08 08:17:17", u"1",
     u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
    {"optional trailing =", u"20131008081717_1_RDpcRGF0YVxQaG90b3M.zip", kExampleTime, u"2013/10/08 08:17:17", u"1",
     u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
    {"leading underscore before the stamp", u"_20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"1", u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
    {"two underscores before the kind", u"20131008081717__1_RDpcRGF0YVxQaG90b3M=.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"1", u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
    {"underscore after the kind is skipped in the path", u"20131008081717_1__RDpc_RGF0YVxQ_aG90b3M=.zip",
     kExampleTime, u"2013/10/08 08:17:17", u"1", u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
    {"longer kind token kept unchanged", u"20131008081717_full-2_RDpcRGF0YVxQaG90b3M=.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"full-2", u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
    {"non-digit stops a field (second 1)", u"2013100808171x_1_RDpcRG9jcw==.zip", JstSeconds(2013, 10, 8, 8, 17, 1),
     u"2013/10/08 08:17:01", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"day 31 of February rolls into March", u"20130231120000_1_RDpcRG9jcw==.zip", JstSeconds(2013, 3, 3, 12, 0, 0),
     u"2013/03/03 12:00:00", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"day 30 of February rolls to 2 March", u"20130230000000_1_RDpcRG9jcw==.zip", JstSeconds(2013, 3, 2, 0, 0, 0),
     u"2013/03/02 00:00:00", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"day 31 of a 30-day month rolls over", u"20130431000000_1_RDpcRG9jcw==.zip", JstSeconds(2013, 5, 1, 0, 0, 0),
     u"2013/05/01 00:00:00", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"upper field bounds", u"20121231235959_1_RDpcRG9jcw==.zip", JstSeconds(2012, 12, 31, 23, 59, 59),
     u"2012/12/31 23:59:59", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"lower field bounds", u"20130101000000_1_RDpcRG9jcw==.zip", JstSeconds(2013, 1, 1, 0, 0, 0),
     u"2013/01/01 00:00:00", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"earliest instant (1970 UTC) in JST", u"19700101090000_1_RDpcRG9jcw==.zip", 0, u"1970/01/01 09:00:00", u"1",
     u"D:\\Docs", u"Docs", u"D:\\"},
    {"latest instant (3000-12-31 23:59:59 UTC) in JST", u"30010101085959_1_RDpcRG9jcw==.zip", 32535215999LL,
     u"3001/01/01 08:59:59", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"= right after an alphabet byte ends the path", u"20131008081717_1_RDpc=RG9jcw.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"1", u"D:\\", u"D:", u"D:\\"},
    {"= after a skipped byte is skipped too", u"20131008081717_1_RDpc-=RG9jcw.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"1", u"D:\\Docs", u"Docs", u"D:\\"},
    {"path ending in a backslash", u"20131008081717_1_RDpcRGF0YVxQaG90b3Nc.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"1", u"D:\\Data\\Photos\\", u"Photos", u"D:\\Data\\"},
    {"Japanese path as code page 932 bytes", u"20131008081717_1_RDpcjsqQXlyXt41z.zip", kExampleTime,
     u"2013/10/08 08:17:17", u"1", u"D:\\写真\\旅行", u"旅行", u"D:\\写真\\"},
    {"UNC path", u"20131008081717_0_XFxzcnZcc2hhcmVcZG9jcw==.zip", kExampleTime, u"2013/10/08 08:17:17", u"0",
     u"\\\\srv\\share\\docs", u"docs", u"\\\\srv\\share\\"},
};

TEST(BackupName, DecodesValidNamesIntoEveryField) {
    for (const auto& c : kValidNames) {
        SCOPED_TRACE(c.fault);
        BackupInfo info;
        ASSERT_TRUE(DescribeBackup(c.name, info));
        EXPECT_EQ(info.backupTime, c.time);
        EXPECT_EQ(Utf8(info.timeText), Utf8(c.timeText));
        EXPECT_EQ(Utf8(info.backupKind), Utf8(c.kind));
        EXPECT_EQ(Utf8(info.originalPath), Utf8(c.originalPath));
        EXPECT_EQ(Utf8(info.itemName), Utf8(c.itemName));
        EXPECT_EQ(Utf8(info.parentFolder), Utf8(c.parentFolder));
    }
}

struct RefusedCase {
    const char* fault;
    std::u16string name;
};

const RefusedCase kRefusedNames[] = {
    {"upper-case suffix", u"20131008081717_1_RDpcRGF0YVxQaG90b3M=.ZIP"},
    {"mixed-case suffix", u"20131008081717_1_RDpcRGF0YVxQaG90b3M=.Zip"},
    {"other suffix", u"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zap"},
    {"empty name", u""},
    {"shorter than the suffix", u"zip"},
    {"only the suffix", u".zip"},
    {"13-character stamp", u"2013100808171_1_RDpcRG9jcw==.zip"},
    {"15-character stamp", u"201310080817170_1_RDpcRG9jcw==.zip"},
    {"stamp runs into the suffix", u"20131008081717.zip"},
    {"year 1969", u"19691231235959_1_RDpcRG9jcw==.zip"},
    {"month 00", u"20130008081717_1_RDpcRG9jcw==.zip"},
    {"month 13", u"20131308081717_1_RDpcRG9jcw==.zip"},
    {"day 00", u"20131000081717_1_RDpcRG9jcw==.zip"},
    {"day 32", u"20131032081717_1_RDpcRG9jcw==.zip"},
    {"hour 24", u"20131008241717_1_RDpcRG9jcw==.zip"},
    {"negative hour", u"20131008-11717_1_RDpcRG9jcw==.zip"},
    {"minute 60", u"20131008086017_1_RDpcRG9jcw==.zip"},
    {"second 60", u"20131008081760_1_RDpcRG9jcw==.zip"},
    {"letters as year read as 0", u"abcd1008081717_1_RDpcRG9jcw==.zip"},
    {"no kind token", u"20131008081717_.zip"},
    {"kind token runs into the suffix", u"20131008081717_1.zip"},
    {"empty encoded path", u"20131008081717_1_.zip"},
    {"path of only =", u"20131008081717_1_=.zip"},
    {"path of only skipped characters", u"20131008081717_1_-._.zip"},
    {"single alphabet character decodes to nothing", u"20131008081717_1_R.zip"},
    {"decoded text starts with a zero byte", u"20131008081717_1_AAAA.zip"},
};

TEST(BackupName, RefusesNamesThatAreNotBackups) {
    for (const auto& c : kRefusedNames) {
        SCOPED_TRACE(c.fault);
        std::int64_t time = -7;
        std::u16string kind, path;
        EXPECT_FALSE(ParseBackupFileName(c.name, time, kind, path));
        BackupInfo info;
        info.itemName = u"unchanged";
        EXPECT_FALSE(DescribeBackup(c.name, info));
        EXPECT_EQ(Utf8(info.itemName), "unchanged");
    }
}

// The dialog restores its fields from its controls after a refusal, so what
// the parse wrote before refusing must be exactly what the steps say.
TEST(BackupName, KeepsOutputsWrittenBeforeARefusal) {
    struct Case {
        const char* fault;
        std::u16string name;
        std::int64_t time;
        std::u16string kind;
        std::u16string path;
    };
    const Case cases[] = {
        {"stamp swallowing the suffix leaves no kind", u"2013100808.zip", JstSeconds(2013, 10, 8, 8, 0, 0), u"",
         u"old"},
        {"suffix read as the kind", u"20131008081717_.zip", kExampleTime, u".zip", u""},
        {"kind running into the suffix is still written", u"20131008081717_1.zip", kExampleTime, u"1.zip", u""},
        {"encoded text left when it decodes to nothing", u"20131008081717_1_=-.zip", kExampleTime, u"1", u""},
        {"nothing written when the range check fails", u"20131308081717_1_RDpc.zip", -7, u"old", u"old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::int64_t time = -7;
        std::u16string kind = u"old", path = u"old";
        EXPECT_FALSE(ParseBackupFileName(c.name, time, kind, path));
        EXPECT_EQ(time, c.time);
        EXPECT_EQ(Utf8(kind), Utf8(c.kind));
        EXPECT_EQ(Utf8(path), Utf8(c.path));
    }
}

TEST(BackupName, RaisesWhenTheTimeIsOutsideTheConvertibleRange) {
    const std::u16string names[] = {
        u"19700101000000_1_RDpcRG9jcw==.zip",  // 1969-12-31 15:00 UTC
        u"19700101085959_1_RDpcRG9jcw==.zip",  // one second before 1970 UTC
        u"30010101090000_1_RDpcRG9jcw==.zip",  // one second after 3000-12-31 23:59:59 UTC
        u"99991231235959_1_RDpcRG9jcw==.zip",
    };
    for (const auto& name : names) {
        SCOPED_TRACE(Utf8(name));
        std::int64_t time = -7;
        std::u16string kind = u"old", path = u"old";
        try {
            ParseBackupFileName(name, time, kind, path);
            ADD_FAILURE() << "no error raised";
        } catch (const BackupNameError& e) {
            EXPECT_EQ(e.kind(), BackupNameError::Kind::kTimeConversion);
        }
        EXPECT_EQ(time, -7);
        EXPECT_EQ(Utf8(kind), "old");
    }
}

TEST(BackupName, MakeLocalTimeRefusesFieldsBeforeConverting) {
    struct Case {
        const char* fault;
        int y, mo, d, h, mi, s;
    };
    const Case cases[] = {
        {"year below 1900", 1899, 6, 1, 0, 0, 0}, {"month 0", 2013, 0, 1, 0, 0, 0},  {"month 13", 2013, 13, 1, 0, 0, 0},
        {"day 0", 2013, 1, 0, 0, 0, 0},           {"day 32", 2013, 1, 32, 0, 0, 0},  {"hour 24", 2013, 1, 1, 24, 0, 0},
        {"minute 60", 2013, 1, 1, 0, 60, 0},      {"second 60", 2013, 1, 1, 0, 0, 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_THROW(MakeLocalTime(c.y, c.mo, c.d, c.h, c.mi, c.s), BackupNameError);
    }
    EXPECT_EQ(MakeLocalTime(2013, 10, 8, 8, 17, 17), kExampleTime);
}

std::string FailingConversion(std::u16string_view) { return {}; }

TEST(BackupName, RaisesWhenTheCodePageConversionFails) {
    std::int64_t time = -7;
    std::u16string kind, path;
    try {
        ParseBackupFileName(u"20131008081717_1_RDpcRG9jcw==.zip", time, kind, path, &FailingConversion);
        ADD_FAILURE() << "no error raised";
    } catch (const BackupNameError& e) {
        EXPECT_EQ(e.kind(), BackupNameError::Kind::kCodePageConversion);
    }
    // Raised at step 8: the earlier outputs are written, the path still
    // holds the encoded text.
    EXPECT_EQ(time, kExampleTime);
    EXPECT_EQ(Utf8(kind), "1");
    EXPECT_EQ(Utf8(path), "RDpcRG9jcw==");
}

TEST(BackupName, UsesTheAnsiCodePageNotUtf8ForThePath) {
    BackupInfo info;
    // "D:\写真\旅行" encoded from its UTF-8 bytes.
    ASSERT_TRUE(DescribeBackup(u"20131008081717_1_RDpc5YaZ55yfXOaXheihjA==.zip", info));
    // Its bytes E5 86 99 E7 9C 9F 5C E6 97 85 E8 A1 8C read in code page 932,
    // as Windows reads them: 85 E8 is no character and the last lead byte
    // has no trail, each giving U+30FB.
    EXPECT_EQ(info.originalPath, u"D:\\蜀咏悄\\譌・｡・");
}

TEST(Base64, DecodesTheBackupNameVariant) {
    struct Case {
        const char* fault;
        std::string input;
        std::string output;
    };
    const Case cases[] = {
        {"one full group", "TWFu", "Man"},
        {"three pending characters give two bytes", "TWE", "Ma"},
        {"two pending characters give one byte", "TQ", "M"},
        {"one pending character gives nothing", "T", ""},
        {"padding is optional", "TQ==", "M"},
        {"= after an alphabet byte ends the input", "TW=Fu", "M"},
        {"= after a skipped byte is skipped", "T-=WFu", "Man"},
        {"leading = ends at once", "=TWFu", ""},
        {"bytes outside the alphabet are skipped", "T W_F.u\x80\xFF", "Man"},
        {"+ and / are 62 and 63", "+/+/", "\xFB\xFF\xBF"},
        {"empty input", "", ""},
        {"several groups", "RDpcRGF0YVxQaG90b3M=", "D:\\Data\\Photos"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::size_t length = 99;
        const auto out = DecodeBase64(reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size(), length);
        ASSERT_EQ(out.size(), c.input.size() + 1);
        ASSERT_EQ(length, c.output.size());
        EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length)), c.output);
        for (std::size_t i = length; i < out.size(); ++i) EXPECT_EQ(out[i], 0) << "byte " << i;
    }
}

TEST(BackupName, FormatsOnlyTimesInsideTheRange) {
    EXPECT_EQ(Utf8(FormatBackupTime(0)), "1970/01/01 09:00:00");
    EXPECT_EQ(Utf8(FormatBackupTime(platform::kLatestLocalTime)), "3001/01/01 08:59:59");
    EXPECT_EQ(Utf8(FormatBackupTime(-1)), "");
    EXPECT_EQ(Utf8(FormatBackupTime(platform::kLatestLocalTime + 1)), "");
    EXPECT_EQ(Utf8(FormatBackupTime(INT64_MIN)), "");
}

TEST(BackupName, DerivesFolderAndItemFromWindowsPaths) {
    struct Case {
        const char* fault;
        std::u16string path;
        std::u16string item;
        std::u16string parent;
    };
    const Case cases[] = {
        {"ordinary folder", u"D:\\Data\\Photos", u"Photos", u"D:\\Data\\"},
        {"trailing backslash", u"D:\\Data\\Photos\\", u"Photos", u"D:\\Data\\"},
        {"item at the drive root", u"D:\\Photos", u"Photos", u"D:\\"},
        {"the drive root itself", u"D:\\", u"D:", u"D:\\"},
        {"UNC share", u"\\\\srv\\share", u"share", u"\\\\srv\\"},
        {"below a UNC share", u"\\\\srv\\share\\a", u"a", u"\\\\srv\\share\\"},
        {"relative single element", u"Photos", u"Photos", u"\\"},
        {"relative nested", u"Data\\Photos", u"Photos", u"Data\\"},
        {"file with extension", u"C:\\Users\\太郎\\メモ.txt", u"メモ.txt", u"C:\\Users\\太郎\\"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(Utf8(BackupItemName(c.path)), Utf8(c.item));
        EXPECT_EQ(Utf8(BackupParentFolder(c.path)), Utf8(c.parent));
    }
}

TEST(NameText, ReadsNumbersTheWayWcstolDoes) {
    struct Case {
        const char* fault;
        std::u16string text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"plain", u"2013", 2013},           {"leading zeros", u"08", 8},
        {"leading blanks", u"  7", 7},      {"plus sign", u"+5", 5},
        {"minus sign", u"-3", -3},          {"stops at a non-digit", u"1x", 1},
        {"no digits", u"x1", 0},            {"empty", u"", 0},
        {"sign alone", u"-", 0},            {"two signs", u"+-1", 0},
        {"clamped high", u"99999999999", INT32_MAX}, {"clamped low", u"-99999999999", INT32_MIN},
        {"exact minimum", u"-2147483648", INT32_MIN}, {"just above maximum", u"2147483648", INT32_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(nametext::ReadDecimal(c.text), c.value);
    }
}

}  // namespace
