#include "tests/support/temp_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

namespace testsupport {

namespace fs = std::filesystem;

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "sorvane-test-" + std::to_string(random()) + "-" +
                                 std::to_string(now % 1000000) + "-" + std::to_string(counter++);
        fs::path candidate = fs::temp_directory_path() / name;
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            path_ = fs::canonical(candidate, ec);
            if (ec) path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
}

TempFolder::~TempFolder() {
    std::error_code ec;
    // Read-only files and folders would stop remove_all on Windows.
    for (fs::recursive_directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
        MakeWritable(it->path());
    MakeWritable(path_);
    fs::remove_all(path_, ec);
}

std::u16string TempFolder::WithSeparator() const {
    std::u16string s = path_.u16string();
    s.push_back(static_cast<char16_t>(fs::path::preferred_separator));
    return s;
}

std::filesystem::path TempFolder::operator/(std::string_view relativeUtf8) const {
    return path_ / PathFromUtf8(relativeUtf8);
}

std::u16string TempFolder::U16(std::string_view relativeUtf8) const {
    return (*this / relativeUtf8).make_preferred().u16string();
}

bool WriteFileBytes(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return {};
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void MakeWritable(const std::filesystem::path& path) {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
}

}  // namespace testsupport
