#pragma once
// A folder of its own for each test: made fresh under the system's temporary
// folder, removed with everything in it when the object goes (read-only
// files included). Works the same on POSIX and on Windows (under Wine).

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The folder as UTF-16, with the platform's separator appended, ready
    // for plain concatenation with a name (as destination folders are).
    std::u16string WithSeparator() const;
    // path() / relative (relative given in UTF-8, '/' separated).
    std::filesystem::path operator/(std::string_view relativeUtf8) const;
    // The UTF-16 form of path() / relative.
    std::u16string U16(std::string_view relativeUtf8) const;

private:
    std::filesystem::path path_;
};

// A path from UTF-8 text, on every platform.
std::filesystem::path PathFromUtf8(std::string_view utf8);

// Writes the bytes to the file (created or truncated). False on failure.
bool WriteFileBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);
// The file's bytes; empty when it can't be read.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file);

// Sets a file or folder writable again (clears read-only) so it can be
// removed; ignores errors.
void MakeWritable(const std::filesystem::path& path);

}  // namespace testsupport
