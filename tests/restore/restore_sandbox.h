#pragma once
// A folder per test with an archive beside a destination, so a test can see
// both what a restore wrote into the destination and anything it wrote
// next to it.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "restore/restore.h"
#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"

namespace restoretest {

namespace fs = std::filesystem;

class Sandbox {
public:
    // root/dest/ as a destination folder (ending in the separator); it is not
    // made here, the run makes it.
    std::u16string Dest() const { return root.U16("dest") + platform::kPathSeparator; }
    fs::path DestPath(std::string_view relativeUtf8 = {}) const {
        return relativeUtf8.empty() ? root / "dest" : root / "dest" / testsupport::PathFromUtf8(relativeUtf8);
    }
    std::u16string DestU16(std::string_view relativeUtf8) const { return DestPath(relativeUtf8).make_preferred().u16string(); }

    std::u16string Archive() const { return root.U16("archive.zip"); }
    void WriteArchive(const testzip::Bytes& bytes) const { testsupport::WriteFileBytes(root / "archive.zip", bytes); }
    void WriteArchive(const testzip::ZipBuilder& zip) const { WriteArchive(zip.Build()); }

    int Run(const testzip::ZipBuilder& zip, RestoreFailure* failure = nullptr, RestoreObserver* observer = nullptr) const {
        WriteArchive(zip);
        return RestoreArchive(Dest(), Archive(), observer, failure);
    }

    // Makes the destination and a folder "outside" beside it, where nothing
    // of a run may ever land (a link in the destination may lead there).
    fs::path MakeDestAndOutside() const {
        fs::create_directories(DestPath());
        const fs::path outside = root / "outside";
        fs::create_directories(outside);
        return outside;
    }

    // Puts a file below the destination (folders on the way are made).
    void Put(std::string_view relativeUtf8, std::string_view content) const {
        const fs::path p = DestPath(relativeUtf8);
        fs::create_directories(p.parent_path());
        testsupport::WriteFileBytes(p, testzip::ToBytes(content));
    }
    std::string Read(std::string_view relativeUtf8) const {
        const auto bytes = testsupport::ReadFileBytes(DestPath(relativeUtf8));
        return std::string(bytes.begin(), bytes.end());
    }

    testsupport::TempFolder root;
};

// A restored file is left "normal": none of read-only, hidden or system. The
// archive bit is not looked at: Wine reports it on every file whose DOS
// attributes it does not keep, even right after they were set to normal.
inline bool IsPlainFile(const std::u16string& path) {
    const std::uint32_t a = platform::ReadAttributes(path);
    const std::uint32_t kept = platform::kAttributeReadOnly | platform::kAttributeHidden | platform::kAttributeSystem |
                               platform::kAttributeDirectory;
    return a != platform::kInvalidAttributes && (a & kept) == 0;
}

// Everything below `top`, as sorted '/'-separated UTF-8 paths; folders end
// in '/'.
inline std::vector<std::string> Tree(const fs::path& top) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(top, ec), end; !ec && it != end; it.increment(ec)) {
        const std::u8string rel = it->path().lexically_relative(top).generic_u8string();
        std::string name(rel.begin(), rel.end());
        if (it->is_directory()) name += '/';
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Text that deflates well but takes real work to inflate.
inline std::string Text(std::size_t size, unsigned seed) {
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        s += "record ";
        s += std::to_string(seed = seed * 1103515245u + 12345u);
        s += " of the backup\n";
    }
    s.resize(size);
    return s;
}

// A row's trace for one of its two runs: on the run thread alone, or with
// worker threads.
inline std::string RunTrace(const char* fault, int producers) {
    std::string trace = fault;
    trace += producers ? ", with workers" : ", serial";
    return trace;
}

// Makes an entry's recorded CRC-32 disagree with its data, in both headers.
inline void Corrupt(testzip::Entry& e) { e.localOverride.crc32 = e.centralOverride.crc32 = ~testzip::Crc32(e.data); }

}  // namespace restoretest
