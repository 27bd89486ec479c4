// sorvane-cli info, run in-process with its two output streams captured.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/commands.h"
#include "platform/local_time.h"

namespace {
std::string capturedOut;
std::string capturedErr;
}  // namespace

void WriteOut(const std::string& utf8) { capturedOut += utf8; }
void WriteErr(const std::string& utf8) { capturedErr += utf8; }

namespace {

const std::string kUnreadable =
    "バックアップファイルの情報が読み取れませんでした。正しいバックアップファイルを指定してください。\n";
const std::string kPhotos =
    "バックアップ時間：2013/10/08 08:17:17\n名前：Photos\nパス：D:\\Data\\\n形式：1\n元のパス：D:\\Data\\Photos\n";
const std::string kJapanese =
    "バックアップ時間：2001/02/03 04:05:06\n名前：旅行\nパス：D:\\写真\\\n形式：0\n元のパス：D:\\写真\\旅行\n";

TEST(InfoCommand, PrintsOneBlockPerNameAndReportsTheRest) {
    platform::SetProcessTimeZone("JST-9");
    struct Case {
        const char* fault;
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string errStart;  // stderr must start with this (empty: stderr empty)
    };
    const Case cases[] = {
        {"one name", {"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip"}, 0, kPhotos, ""},
        {"only the last path component is decoded",
         {"C:\\20991231000000_1_x\\20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip"}, 0, kPhotos, ""},
        {"forward slashes separate too", {"/tmp/_x_/20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip"}, 0, kPhotos, ""},
        {"blocks separated by one blank line",
         {"20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip", "20010203040506_0_RDpcjsqQXlyXt41z.zip"}, 0,
         kPhotos + "\n" + kJapanese, ""},
        {"undecodable name: message and status 1, others still shown",
         {"photos.zip", "20131008081717_1_RDpcRGF0YVxQaG90b3M=.zip"}, 1, kPhotos, kUnreadable},
        {"time outside the range: one error line, no block", {"19700101000000_1_RDpcRGF0YVxQaG90b3M=.zip"}, 1, "",
         "error: 19700101000000_1_RDpcRGF0YVxQaG90b3M=.zip: "},
        {"no name is a usage error", {}, 2, "", "usage:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        capturedOut.clear();
        capturedErr.clear();
        EXPECT_EQ(RunInfoCommand(c.args), c.status);
        EXPECT_EQ(capturedOut, c.out);
        if (c.errStart.empty()) {
            EXPECT_EQ(capturedErr, "");
        } else {
            EXPECT_EQ(capturedErr.rfind(c.errStart, 0), 0u) << capturedErr;
            EXPECT_EQ(capturedErr.back(), '\n');
        }
    }
}

}  // namespace
