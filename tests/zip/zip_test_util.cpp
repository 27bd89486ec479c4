#include "tests/zip/zip_test_util.h"

#include "platform/file_time.h"
#include "platform/local_time.h"

namespace ziptest {

std::unique_ptr<ArchiveHandle> OpenBytes(const testsupport::TempFolder& folder, const testzip::Bytes& bytes,
                                         const char* fileName) {
    const auto path = folder / fileName;
    if (!testsupport::WriteFileBytes(path, bytes)) return nullptr;
    return OpenArchive(path.u16string());
}

std::string ReadAll(ArchiveCatalog& catalog, std::uint32_t chunk, int& status) {
    std::string out;
    std::string buffer(chunk, '\0');
    status = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const std::int32_t got = ReadEntryStream(&catalog, buffer.data(), chunk);
        if (got < 0) {
            status = got;
            break;
        }
        if (got == 0) break;
        out.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return out;
}

std::uint64_t FileTimeLocal(int y, int mo, int d, int h, int mi, int s) {
    std::int64_t seconds = 0;
    if (!platform::LocalCalendarToSeconds(platform::CalendarTime{y, mo, d, h, mi, s, 0}, seconds)) return 0;
    return static_cast<std::uint64_t>(seconds + platform::kFileTimeUnixEpochSeconds) * 10000000u;
}

std::uint64_t FileTimeUtc(int y, int mo, int d, int h, int mi, int s) {
    platform::CalendarTime c;
    c.year = y;
    c.month = mo;
    c.day = d;
    c.hour = h;
    c.minute = mi;
    c.second = s;
    platform::FileTime ft = 0;
    platform::CalendarToFileTime(c, ft);
    return ft;
}

}  // namespace ziptest
