#pragma once
// Shared by the reader's tests: an archive written to a temporary file and
// opened, with access to the reader's inside.

#include <memory>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/zip_writer.h"
#include "zip/archive.h"
#include "zip/reader.h"

namespace ziptest {

// Writes `bytes` to a file in `folder` and opens it. Null when the open
// fails (lastReaderResult tells why).
std::unique_ptr<ArchiveHandle> OpenBytes(const testsupport::TempFolder& folder, const testzip::Bytes& bytes,
                                         const char* fileName = "test.zip");

inline ArchiveCatalog& Catalog(ArchiveHandle& h) { return *h.reader->catalog; }

// Reads the stream of the cursor entry to its end; `status` is the first
// negative result, or 0.
std::string ReadAll(ArchiveCatalog& catalog, std::uint32_t chunk, int& status);

// Runs `body` with the current folder set to `folder`, then puts it back.
template <typename F>
void InFolder(const std::u16string& folder, F body);

// File time of a UTC calendar moment.
std::uint64_t FileTimeUtc(int y, int mo, int d, int h, int mi, int s);
// File time of a moment on this process's local clock, through the C
// runtime's mktime.
std::uint64_t FileTimeLocal(int y, int mo, int d, int h, int mi, int s);

}  // namespace ziptest

#include "platform/fs.h"
#include "platform/text.h"

template <typename F>
void ziptest::InFolder(const std::u16string& folder, F body) {
    std::u16string old;
    platform::GetCurrentFolder(old);
    platform::SetCurrentFolder(folder);
    body();
    platform::SetCurrentFolder(old);
}
