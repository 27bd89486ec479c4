// Win32 back end of File: CreateFileW, ReadFile, WriteFile, SetFilePointerEx,
// GetFileType, SetFileTime, CloseHandle.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>
#include <string>
#include <utility>

#include "platform/file.h"
#include "platform/identity_win32.h"
#include "platform/path_rules.h"
#include "platform/wide.h"

namespace platform {
namespace {

HANDLE H(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

FILETIME ToFiletime(FileTime t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

}  // namespace

File File::OpenForReading(std::u16string_view path) {
    const std::u16string p(path);
    HANDLE h = ::CreateFileW(W(LongPathForm(p)), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return File();
    return File(reinterpret_cast<std::intptr_t>(h));
}

File File::CreateAlways(std::u16string_view path, std::uint32_t attributes) {
    const std::u16string p(path);
    HANDLE h = ::CreateFileW(W(LongPathForm(p)), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return File();
    return File(reinterpret_cast<std::intptr_t>(h));
}

File File::CreateNew(std::u16string_view path, bool* existed) {
    if (existed) *existed = false;
    const std::u16string p(path);
    // CREATE_NEW fails on anything at the path, a link (dangling or not)
    // included, so nothing is ever created or written through one.
    HANDLE h = ::CreateFileW(W(LongPathForm(p)), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
        const DWORD error = ::GetLastError();
        if (existed) *existed = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return File();
    }
    return File(reinterpret_cast<std::intptr_t>(h));
}

bool File::IsOpen() const noexcept { return handle_ != kNone && handle_ != 0; }

bool File::IsDiskFile() const noexcept { return IsOpen() && ::GetFileType(H(handle_)) == FILE_TYPE_DISK; }

bool File::GetPosition(std::uint64_t& position) const noexcept {
    LARGE_INTEGER zero{}, now{};
    if (!IsOpen() || !::SetFilePointerEx(H(handle_), zero, &now, FILE_CURRENT)) return false;
    position = static_cast<std::uint64_t>(now.QuadPart);
    return true;
}

bool File::SetPosition(std::uint64_t position) noexcept {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(position);
    return IsOpen() && position <= static_cast<std::uint64_t>(INT64_MAX) &&
           ::SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) != FALSE;
}

bool File::GetSize(std::uint64_t& size) const noexcept {
    LARGE_INTEGER s{};
    if (!IsOpen() || !::GetFileSizeEx(H(handle_), &s)) return false;
    size = static_cast<std::uint64_t>(s.QuadPart);
    return true;
}

bool File::Read(void* buffer, std::size_t count, std::size_t& received) noexcept {
    received = 0;
    if (!IsOpen()) return false;
    auto* p = static_cast<char*>(buffer);
    while (received < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - received, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(H(handle_), p + received, chunk, &got, nullptr)) return false;
        if (got == 0) break;
        received += got;
    }
    return true;
}

bool File::Write(const void* buffer, std::size_t count) noexcept {
    if (!IsOpen()) return false;
    const auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
        DWORD wrote = 0;
        if (!::WriteFile(H(handle_), p + done, chunk, &wrote, nullptr)) {
            const DWORD error = ::GetLastError();
            outOfRoom_ = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
            return false;
        }
        if (wrote == 0) return false;
        done += wrote;
    }
    return true;
}

bool File::SetTimes(FileTime creation, FileTime access, FileTime write) noexcept {
    if (!IsOpen()) return false;
    // A null pointer leaves that time as it is.
    FILETIME c = ToFiletime(creation), a = ToFiletime(access), w = ToFiletime(write);
    return ::SetFileTime(H(handle_), creation ? &c : nullptr, access ? &a : nullptr, write ? &w : nullptr) != FALSE;
}

bool File::SetTimesAndNormal(FileTime creation, FileTime access, FileTime write) noexcept {
    if (!IsOpen()) return false;
    // One call for times and attributes; a time of 0 leaves that time as it
    // is, like SetFileTime's null pointers.
    FILE_BASIC_INFO info{};
    info.CreationTime.QuadPart = static_cast<LONGLONG>(creation);
    info.LastAccessTime.QuadPart = static_cast<LONGLONG>(access);
    info.LastWriteTime.QuadPart = static_cast<LONGLONG>(write);
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(H(handle_), FileBasicInfo, &info, sizeof info) != FALSE;
}

bool File::GetIdentity(FileIdentity& identity) const { return IsOpen() && IdentityOfHandle(H(handle_), identity); }

namespace {

// Whether the volume holding `handle` keeps file ids, asked once per volume
// serial and thread.
bool VolumeKeepsFileIds(HANDLE handle, std::uint64_t serial) {
    thread_local std::uint64_t knownSerial = 0;
    thread_local bool knownKeeps = false;
    thread_local bool known = false;
    if (known && knownSerial == serial) return knownKeeps;
    wchar_t fileSystem[MAX_PATH + 1] = {};
    bool keeps = ::GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                                 MAX_PATH + 1) != FALSE &&
                 FileSystemKeepsFileIds(U16(fileSystem, std::wcslen(fileSystem)));
    // A redirector may number files as it likes, whatever the server's file
    // system does.
    FILE_REMOTE_PROTOCOL_INFO remote{};
    if (keeps && ::GetFileInformationByHandleEx(handle, FileRemoteProtocolInfo, &remote, sizeof remote)) keeps = false;
    knownSerial = serial;
    knownKeeps = keeps;
    known = true;
    return keeps;
}

// The file's full normalized name (short names resolved to long ones), in
// capitals, as FAT and exFAT compare names.
bool NameKeyOf(HANDLE handle, std::u16string& key) {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
        if (n == 0) return false;
        if (n < buffer.size()) {
            ::CharUpperBuffW(buffer.data(), n);
            key = U16(buffer.data(), n);
            return true;
        }
        buffer.resize(n + 1);
    }
}

}  // namespace

// FILE_ID_INFO and its class, which the headers declare only for programs
// that need Windows 8: this one starts on Windows 7, where the call fails.
struct FileIdInfo128 {
    ULONGLONG volumeSerialNumber;
    BYTE fileId[16];
};
constexpr auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);

bool IdentityOfHandle(HANDLE handle, FileIdentity& identity) {
    identity = FileIdentity{};
    FileIdInfo128 ids{};
    if (::GetFileInformationByHandleEx(handle, kFileIdInfo, &ids, sizeof ids)) {
        identity.volume = ids.volumeSerialNumber;
        std::memcpy(&identity.index, ids.fileId, 8);
        std::memcpy(&identity.indexHigh, ids.fileId + 8, 8);
    } else {
        // Before Windows 8: the 64-bit index.
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(handle, &info)) return false;
        identity.volume = info.dwVolumeSerialNumber;
        identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    }
    if ((identity.index == 0 && identity.indexHigh == 0) || !VolumeKeepsFileIds(handle, identity.volume)) {
        identity.index = identity.indexHigh = 0;
        if (!NameKeyOf(handle, identity.name)) return false;
    }
    return true;
}

bool File::Close() noexcept {
    if (!IsOpen()) {
        handle_ = kNone;
        return true;
    }
    return ::CloseHandle(H(std::exchange(handle_, kNone))) != FALSE;
}

}  // namespace platform
