// Wording of sorvane-cli's usage and failure lines. Reasons are in English:
// they name checks (CRC-32, local header) that users search for as they are.

#include "cli/cli_text.h"

#include <cstdio>

#include "platform/file.h"
#include "platform/file_time.h"
#include "platform/fs.h"
#include "platform/text.h"

std::string UsageText() {
    return "usage: sorvane-cli restore ARCHIVE FOLDER [MEMBER...] [-x MEMBER] [--existing=WHAT] [--skip-identical]\n"
           "                              [--keep-going]\n"
           "       sorvane-cli plan ARCHIVE FOLDER [MEMBER...] [-x MEMBER] [--existing=WHAT] [--skip-identical]\n"
           "                              [--keep-going]\n"
           "       sorvane-cli test ARCHIVE [MEMBER...] [-x MEMBER] [--quiet]\n"
           "       sorvane-cli list ARCHIVE [MEMBER...] [-x MEMBER]\n"
           "       sorvane-cli info BACKUP-FILE\n"
           "       sorvane-cli backups FOLDER\n"
           "       sorvane-cli --help | --version\n"
           "\n"
           "restore  restores every entry of ARCHIVE below FOLDER, replacing what is there\n"
           "plan     says what restore would do with each entry, and writes nothing\n"
           "test     reads and checks every entry of ARCHIVE (CRC-32, sizes) without\n"
           "         writing anything, and names every damaged one\n"
           "list     lists the entries: index, attributes, compressed and uncompressed size,\n"
           "         write, access and creation time (UTC), name\n"
           "info     describes what a backup's file name says\n"
           "backups  lists the backups in FOLDER: time, original path and file name,\n"
           "         tab-separated, grouped by original path, newest first\n"
           "\n"
           "MEMBER   an entry's name as list prints it, or a pattern: * within one level,\n"
           "         ** across levels, ? one character, [...] one of a set; a folder takes\n"
           "         everything in it (letter case counts on POSIX, not on Windows)\n"
           "-x MEMBER, --exclude=MEMBER   leaves out what MEMBER takes (repeatable)\n"
           "--existing=replace            replaces what stands at an entry's path (the default)\n"
           "--existing=keep               never touches an existing file or folder\n"
           "--existing=newer              replaces only a file written before the entry's time\n"
           "--skip-identical              leaves a file that holds its entry already (same size,\n"
           "                              time and CRC-32): restoring again finishes only what is\n"
           "                              missing or cut short\n"
           "--keep-going                  goes on past an entry that fails (damaged, refused, can't be\n"
           "                              written), leaving what stands at its path as it is, and\n"
           "                              names every such entry at the end (exit status 5)\n"
           "-q, --quiet                   test: prints only damaged entries and the summary\n"
           "Options may stand anywhere; -- ends them.\n"
           "\n"
           "exit status: 0 done, 1 name unreadable (info) or folder unreadable (backups),\n"
           "             2 usage, 3 archive not opened, 4 entry count unreadable,\n"
           "             5 an entry failed (or is damaged), 6 archive missing or folder not made,\n"
           "             130 interrupted\n";
}

std::string ResultText(ArchiveResult result) {
    char text[32];
    if (result > 0)
        std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(result));
    else
        std::snprintf(text, sizeof text, "%d", static_cast<int>(result));
    return text;
}

namespace {

const char* ExtractReason(ExtractFailure failure) {
    switch (failure) {
        case ExtractFailure::kUnsafeName: return "unsafe name: it would leave the destination folder";
        case ExtractFailure::kPathTooLong: return "the path is longer than this system takes";
        case ExtractFailure::kCreateFailed: return "the output file could not be created";
        case ExtractFailure::kOpenFailed: return "its local header is unreadable or disagrees with the directory";
        case ExtractFailure::kReadFailed: return "the archive could not be read (cut short?)";
        case ExtractFailure::kWriteFailed: return "writing the output file failed";
        case ExtractFailure::kDiskFull: return "the disk is full";
        case ExtractFailure::kCorruptData: return "the compressed data is corrupt";
        case ExtractFailure::kShortData: return "the data ends before its declared size";
        case ExtractFailure::kCrcMismatch: return "CRC-32 mismatch: the data differs from what was stored";
        case ExtractFailure::kEncrypted: return "the entry is encrypted";
        case ExtractFailure::kNone: break;
    }
    return "the extraction failed";
}

}  // namespace

std::string EntryReason(const RestoreFailure& failure) {
    switch (failure.reason) {
        case EntryFailure::kFetchFailed:
            return "its record could not be read from the archive's directory (result " +
                   ResultText(failure.extractResult) + ")";
        case EntryFailure::kEmptyName: return "the entry has no name";
        case EntryFailure::kUnsafeName: return "unsafe name: it would leave the destination folder";
        case EntryFailure::kPathTooLong:
            return std::string("its path is longer than this system takes (") + platform::PathLimitText() + ")";
        case EntryFailure::kNameTooLong:
            return std::string("a name in its path is longer than the file system takes (") +
                   platform::NameLimitText() + ")";
        case EntryFailure::kNotFound: return "the entry could not be found by its name";
        case EntryFailure::kNameMismatch: return "an earlier entry has the same name apart from letter case";
        case EntryFailure::kDuplicateName: return "an earlier entry has the same name or restores to the same file";
        case EntryFailure::kFolderFailed: return "a folder on its path could not be made (a file or a link is in the way?)";
        case EntryFailure::kTargetInTheWay: return "a folder is in the way, or what stands at its path can't be replaced";
        case EntryFailure::kBadHandle: return "the archive is not open";
        case EntryFailure::kExtractFailed:
            return std::string(ExtractReason(failure.extractFailure)) + " (result " +
                   ResultText(failure.extractResult) + ")";
        case EntryFailure::kNotReadable: return "the restored file can't be read back";
        case EntryFailure::kInterrupted: return "the run was interrupted before it";
        case EntryFailure::kFileInUse: return "the file at its path is in use by another program";
        case EntryFailure::kAccessDenied: return "access denied: what stands at its path may not be replaced";
        case EntryFailure::kNone: break;
    }
    return "unknown failure";
}

std::string RestoreFailureLine(int code, const RestoreFailure& failure, bool archiveExists) {
    std::string line = "error " + std::to_string(code) + ": ";
    switch (code) {
        case RESTORE_OPEN_FAILED:
            line += "the archive could not be opened (result " + ResultText(failure.openResult) + ")";
            break;
        case RESTORE_COUNT_FAILED:
            line += "the number of entries could not be read (result " + ResultText(failure.openResult) + ")";
            break;
        case RESTORE_ENTRY_FAILED:
            line += "entry " + std::to_string(failure.entryIndex);
            if (!failure.entryName.empty()) line += " \"" + PrintableName(failure.entryName) + "\"";
            line += ": " + EntryReason(failure);
            break;
        case RESTORE_NO_ARCHIVE:
            line += archiveExists ? "a level of the destination folder could not be made"
                                  : "the archive does not exist";
            break;
        default: line += "unexpected result"; break;
    }
    return line + "\n";
}

std::string PrintableName(const std::u16string& name) {
    std::u16string visible;
    visible.reserve(name.size());
    for (char16_t c : name) {
        if (c < 0x20 || c == 0x7F) {
            static const char kHex[] = "0123456789ABCDEF";
            visible += u"\\x";
            visible.push_back(static_cast<char16_t>(kHex[c >> 4]));
            visible.push_back(static_cast<char16_t>(kHex[c & 0xF]));
        } else {
            visible.push_back(c);
        }
    }
    return platform::Utf16ToUtf8(visible);
}

std::string FormatFileTimeUtc(std::uint64_t fileTime) {
    const std::int64_t seconds =
        static_cast<std::int64_t>(fileTime / 10000000u) - platform::kFileTimeUnixEpochSeconds;
    const platform::CalendarTime t = platform::UtcCalendarFromUnixSeconds(seconds);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    // A time finer than the second (from an NTFS field) is shown to the
    // 100 ns it is set to; whole seconds keep their short form.
    if (const auto units = static_cast<unsigned>(fileTime % 10000000u); units != 0) {
        char fraction[16];
        std::snprintf(fraction, sizeof fraction, ".%07u", units);
        return std::string(text) + fraction;
    }
    return text;
}
