// The programs run elevated, often from a downloads folder, and so does the
// set-up program: every DLL they import must be one Windows always takes
// from the system folder (or, for the common controls, through the
// manifest), never one a stranger could leave beside them. Read from the
// programs' own import tables.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24 : 0;
}
std::uint16_t U16(const Bytes& b, std::size_t at) { return at + 2 <= b.size() ? std::uint16_t(b[at] | b[at + 1] << 8) : 0; }

// The DLL names of a PE32+ file's import and delay-import tables, in
// capitals. Empty when the file is no such program.
std::vector<std::string> ImportedDlls(const Bytes& pe) {
    std::vector<std::string> names;
    const std::size_t header = U32(pe, 0x3C);
    if (U32(pe, header) != 0x00004550) return names;  // "PE\0\0"
    const std::size_t coff = header + 4;
    const unsigned sections = U16(pe, coff + 2);
    const std::size_t optional = coff + 20;
    if (U16(pe, optional) != 0x20B) return names;  // PE32+
    const std::size_t sectionTable = optional + U16(pe, coff + 16);
    const auto fileOffset = [&](std::uint32_t rva) -> std::size_t {
        for (unsigned i = 0; i < sections; ++i) {
            const std::size_t s = sectionTable + 40 * i;
            const std::uint32_t start = U32(pe, s + 12), size = std::max(U32(pe, s + 8), U32(pe, s + 16));
            if (rva >= start && rva < start + size) return rva - start + U32(pe, s + 20);
        }
        return 0;
    };
    const auto nameAt = [&](std::uint32_t rva) {
        std::string name;
        for (std::size_t at = fileOffset(rva); at && at < pe.size() && pe[at]; ++at)
            name += static_cast<char>(std::toupper(pe[at]));
        return name;
    };
    // Directory 1: imports (20-byte descriptors, name at 12); 13: delay
    // imports (32-byte descriptors, name at 4).
    const struct {
        unsigned directory, stride, nameField;
    } tables[] = {{1, 20, 12}, {13, 32, 4}};
    for (const auto& t : tables) {
        const std::uint32_t rva = U32(pe, optional + 112 + 8 * t.directory);
        if (rva == 0) continue;
        for (std::size_t d = fileOffset(rva); d && U32(pe, d + t.nameField) != 0; d += t.stride)
            names.push_back(nameAt(U32(pe, d + t.nameField)));
    }
    return names;
}

TEST(Imports, OnlyDllsWindowsTakesFromTheSystemFolder) {
    // Windows' KnownDLLs, always mapped from the system folder, and the
    // common controls, which the manifest binds to the system's copy.
    const std::set<std::string> allowed = {
        "ADVAPI32.DLL", "COMBASE.DLL", "COMCTL32.DLL", "COMDLG32.DLL", "GDI32.DLL",  "IMM32.DLL",
        "KERNEL32.DLL", "MSVCRT.DLL",  "OLE32.DLL",    "OLEAUT32.DLL", "RPCRT4.DLL", "SECHOST.DLL",
        "SHELL32.DLL",  "SHLWAPI.DLL", "USER32.DLL",   "WS2_32.DLL"};
    for (const char* program : {SORVANE_PROGRAM, SORVANE_CLI_PROGRAM, SORVANE_SETUP_PACKAGE}) {
        SCOPED_TRACE(program);
        const Bytes pe = testsupport::ReadFileBytes(testsupport::PathFromUtf8(program));
        const std::vector<std::string> imported = ImportedDlls(pe);
        ASSERT_FALSE(imported.empty()) << "no import table read";
        EXPECT_TRUE(std::count(imported.begin(), imported.end(), "KERNEL32.DLL")) << "the reader missed a table";
        for (const std::string& dll : imported) EXPECT_TRUE(allowed.count(dll)) << dll << " may be taken from beside the program";
    }
}

}  // namespace
