// A refused removal or move is waited for only when another program holds
// the file; a refusal by the file's access rules or its read-only state is
// reported at once as such. Win32 gives ERROR_ACCESS_DENIED for both kinds,
// so the NTSTATUS behind it decides; the real refusals Wine can make are
// read back the way the back end reads them.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/fs.h"
#include "platform/refusal_win32.h"
#include "tests/support/temp_folder.h"

namespace {

using platform::Refusal;

constexpr long kStatusAccessDenied = static_cast<long>(0xC0000022);
constexpr long kStatusSharingViolation = static_cast<long>(0xC0000043);
constexpr long kStatusDeletePending = static_cast<long>(0xC0000056);
constexpr long kStatusCannotDelete = static_cast<long>(0xC0000121);

struct RefusalCase {
    const char* fault;
    DWORD error;
    long status;
    DWORD attributes;
    DWORD openForDelete;  // what opening the file for deletion then gave
    Refusal expected;
};

TEST(Refusal, BusyAndForbiddenAreToldApart) {
    const RefusalCase cases[] = {
        {"an access rule waited for as if the file were in use", ERROR_ACCESS_DENIED, kStatusAccessDenied,
         FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED, Refusal::kAccessDenied},
        {"a file open elsewhere refusing a replacing move taken as forbidden", ERROR_ACCESS_DENIED,
         kStatusAccessDenied, FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS, Refusal::kInUse},
        {"a file held without sharing refusing a move taken as forbidden", ERROR_ACCESS_DENIED, kStatusAccessDenied,
         FILE_ATTRIBUTE_ARCHIVE, ERROR_SHARING_VIOLATION, Refusal::kInUse},
        {"a file another program is deleting taken as forbidden", ERROR_ACCESS_DENIED, kStatusDeletePending,
         FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED, Refusal::kInUse},
        {"a mapped file taken as forbidden", ERROR_ACCESS_DENIED, kStatusCannotDelete, FILE_ATTRIBUTE_ARCHIVE,
         ERROR_SUCCESS, Refusal::kInUse},
        {"a read-only file waited for", ERROR_ACCESS_DENIED, kStatusCannotDelete, FILE_ATTRIBUTE_READONLY,
         ERROR_SUCCESS, Refusal::kAccessDenied},
        {"a hidden file waited for instead of unguarded", ERROR_ACCESS_DENIED, kStatusAccessDenied,
         FILE_ATTRIBUTE_HIDDEN, ERROR_SUCCESS, Refusal::kAccessDenied},
        {"a sharing violation not waited for", ERROR_SHARING_VIOLATION, kStatusSharingViolation,
         FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS, Refusal::kInUse},
        {"a missing file waited for", ERROR_FILE_NOT_FOUND, 0, INVALID_FILE_ATTRIBUTES, ERROR_SUCCESS,
         Refusal::kOther},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::ClassifyRefusal(c.error, c.status, c.attributes, c.openForDelete), c.expected) << c.fault;
    }
}

// What Wine (or Windows) says of a file another program has begun to delete.
TEST(Refusal, AFileBeingDeletedIsInUse) {
    testsupport::TempFolder folder;
    const std::wstring path = (folder.path() / L"pending.txt").wstring();
    HANDLE made = ::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(made, INVALID_HANDLE_VALUE);
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    ASSERT_TRUE(::SetFileInformationByHandle(made, FileDispositionInfo, &disposition, sizeof disposition));
    const auto start = std::chrono::steady_clock::now();
    Refusal why = Refusal::kNone;
    const bool removed = platform::RemoveFile(std::u16string(path.begin(), path.end()), &why);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::CloseHandle(made);
    // A system that lets a second delete of a pending file pass has nothing
    // to wait for.
    if (removed) GTEST_SKIP() << "not on this system: a pending delete is not refused";
    EXPECT_EQ(why, Refusal::kInUse);
    EXPECT_GE(seconds, platform::kBusyWaitMs / 1000.0 - 0.5) << "not waited for";
}

TEST(Refusal, AReadOnlyFileIsRefusedAtOnce) {
    testsupport::TempFolder folder;
    const std::filesystem::path file = folder.path() / L"ro.txt";
    ASSERT_TRUE(testsupport::WriteFileBytes(file, {'x'}));
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    const auto start = std::chrono::steady_clock::now();
    Refusal why = Refusal::kNone;
    EXPECT_FALSE(platform::RemoveFile(file.u16string(), &why));
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(why, Refusal::kAccessDenied);
    EXPECT_LT(seconds, 1.0) << "a read-only file was waited for";
}

}  // namespace
