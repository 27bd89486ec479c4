// Feeds arbitrary bytes to the archive reader as a file: open, describe
// every entry, find each by name, read each stream to its end, and take the
// small ones whole into memory. Any crash,
// hang, leak or undefined behaviour is a fault; result codes are not.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "zip/archive.h"
#include "zip/reader.h"

namespace {

std::string ScratchFile() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir && *dir ? dir : "/tmp";
    return path + "/sorvane-fuzz-" + std::to_string(::getpid()) + ".zip";
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Takes an entry whole into memory, as a restore does with small entries:
// the reader inflates straight into the room it offers.
class MemorySink : public EntrySink {
public:
    bool Write(const std::uint8_t*, std::size_t) override { return true; }
    std::uint8_t* Room(std::uint64_t size) override {
        if (size > (1u << 20)) return nullptr;
        bytes_.resize(static_cast<std::size_t>(size));
        return bytes_.data();
    }

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = ScratchFile();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    auto handle = OpenArchive(Widen(path));
    if (!handle) return 0;
    ArchiveEntry all;
    if (GetArchiveEntry(handle.get(), -1, all) == ARCHIVE_OK) {
        std::vector<std::uint8_t> buffer(70000);
        for (std::int32_t i = 0; i < all.index; ++i) {
            ArchiveEntry e;
            if (GetArchiveEntry(handle.get(), i, e) != ARCHIVE_OK) continue;
            std::int32_t found = -1;
            ArchiveEntry byName;
            FindEntryByName(handle.get(), e.name, &found, byName);
            ArchiveCatalog* catalog = handle->reader->catalog.get();
            if (!MoveCursorTo(catalog, i) || OpenEntryStream(catalog) != CATALOG_OK) continue;
            // Bounded: a declared size of 4 GiB of zeros must not keep the
            // fuzzer busy for minutes.
            std::uint64_t total = 0;
            for (;;) {
                const std::int32_t got = ReadEntryStream(catalog, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
                if (got <= 0) break;
                total += static_cast<std::uint32_t>(got);
                if (total > (64u << 20)) break;
            }
            GetEntryStreamFacts(catalog);
            CloseEntryStream(catalog);
            if (e.uncompressedSize <= (1u << 20)) {
                MemorySink sink;
                ExtractEntryToSink(handle.get(), i, sink);
            }
        }
    }
    CloseArchive(handle);
    return 0;
}
