// Profile files without the Windows profile functions: the same format and
// rules, written for the POSIX build. Files are read as the system reads
// them: ANSI code page text (932), or UTF-16LE / UTF-8 when they start with
// a byte-order mark; a write keeps the file's encoding. Each line is kept as
// its raw bytes and only the line that changes is rewritten, so sections and
// keys we do not touch, comments and blank lines survive byte for byte.

#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {

namespace {

enum class Encoding { kAnsi, kUtf8, kUtf16 };

struct Line {
    std::string raw;      // the line's bytes with its line end
    std::u16string text;  // decoded, without the line end
};

struct IniFile {
    Encoding encoding = Encoding::kAnsi;
    std::string bom;
    std::vector<Line> lines;
};

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f'; }

std::u16string_view Trim(std::u16string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

std::u16string Decode(Encoding encoding, std::string_view bytes) {
    switch (encoding) {
    case Encoding::kUtf8:
        return Utf8ToUtf16(bytes);
    case Encoding::kUtf16: {
        std::u16string text;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                 (static_cast<unsigned char>(bytes[i + 1]) << 8)));
        return text;
    }
    case Encoding::kAnsi:
        break;
    }
    return AnsiToUtf16(bytes);
}

std::string Encode(Encoding encoding, std::u16string_view text) {
    switch (encoding) {
    case Encoding::kUtf8:
        return Utf16ToUtf8(text);
    case Encoding::kUtf16: {
        std::string bytes;
        for (char16_t c : text) {
            bytes.push_back(static_cast<char>(c & 0xFF));
            bytes.push_back(static_cast<char>(c >> 8));
        }
        return bytes;
    }
    case Encoding::kAnsi:
        break;
    }
    return Utf16ToAnsi(text);
}

std::optional<std::string> ReadBytes(const std::u16string& path) {
    std::ifstream in(Utf16ToUtf8(path), std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

// Splits at LF (a CR before it belongs to the line end). For UTF-16 files
// the LF is the two-byte unit 0A 00 at an even offset.
IniFile ParseFile(const std::string& bytes) {
    IniFile file;
    std::string_view body(bytes);
    if (body.substr(0, 2) == "\xFF\xFE") {
        file.encoding = Encoding::kUtf16;
        file.bom = "\xFF\xFE";
    } else if (body.substr(0, 3) == "\xEF\xBB\xBF") {
        file.encoding = Encoding::kUtf8;
        file.bom = "\xEF\xBB\xBF";
    }
    body.remove_prefix(file.bom.size());
    const std::size_t unit = file.encoding == Encoding::kUtf16 ? 2 : 1;
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = start;
        while (end < body.size() && !(body[end] == '\n' && (unit == 1 || (end + 1 < body.size() && body[end + 1] == 0))))
            end += unit;
        const std::size_t next = end < body.size() ? end + unit : body.size();
        Line line;
        line.raw = std::string(body.substr(start, next - start));
        line.text = Decode(file.encoding, body.substr(start, std::min(end, body.size()) - start));
        while (!line.text.empty() && (line.text.back() == u'\r' || line.text.back() == u'\n')) line.text.pop_back();
        file.lines.push_back(std::move(line));
        start = next;
    }
    return file;
}

// "[Name]" (anything after the bracket ignored; a missing bracket ends the
// name at the end of the line).
std::optional<std::u16string_view> SectionName(std::u16string_view text) {
    text = Trim(text);
    if (text.empty() || text.front() != u'[') return std::nullopt;
    text.remove_prefix(1);
    const auto close = text.find(u']');
    return Trim(close == std::u16string_view::npos ? text : text.substr(0, close));
}

struct Entry {
    std::u16string_view key;
    std::u16string_view value;
};

Entry SplitEntry(std::u16string_view text) {
    const auto eq = text.find(u'=');
    if (eq == std::u16string_view::npos) return {Trim(text), {}};
    return {Trim(text.substr(0, eq)), Trim(text.substr(eq + 1))};
}

// The line range of the first section of that name: [header, end).
struct SectionRange {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> FindSection(const IniFile& file, std::u16string_view section) {
    for (std::size_t i = 0; i < file.lines.size(); ++i) {
        const auto name = SectionName(file.lines[i].text);
        if (!name || !SameName(*name, section)) continue;
        std::size_t end = i + 1;
        while (end < file.lines.size() && !SectionName(file.lines[end].text)) ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const IniFile& file, const SectionRange& range, std::u16string_view key) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const std::u16string_view text = Trim(file.lines[i].text);
        if (text.empty()) continue;
        if (SameName(SplitEntry(text).key, key)) return i;
    }
    return std::nullopt;
}

// A value in matching quotes is read without them, as Windows does.
std::u16string_view Unquote(std::u16string_view value) {
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

std::u16string Cut(std::u16string_view text, std::size_t capacity) {
    return std::u16string(text.substr(0, capacity));
}

// The line end a line was stored with: CRLF, LF, or none (last line).
std::u16string LineEnd(Encoding encoding, const Line& line) {
    const std::string crlf = Encode(encoding, u"\r\n");
    const std::string lf = Encode(encoding, u"\n");
    const auto endsWith = [&](const std::string& tail) {
        return line.raw.size() >= tail.size() && line.raw.compare(line.raw.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith(crlf)) return u"\r\n";
    if (endsWith(lf)) return u"\n";
    return {};
}

Line MakeLine(Encoding encoding, const std::u16string& text) {
    return Line{Encode(encoding, text + u"\r\n"), text};
}

}  // namespace

std::u16string ReadIniValue(const std::u16string& path, const std::u16string& section, const std::u16string& key,
                            const std::u16string& defaultValue, std::size_t capacity) {
    std::u16string_view fallback(defaultValue);
    while (!fallback.empty() && fallback.back() == u' ') fallback.remove_suffix(1);
    const auto bytes = ReadBytes(path);
    if (!bytes) return Cut(fallback, capacity);
    const IniFile file = ParseFile(*bytes);
    const auto range = FindSection(file, section);
    if (!range) return Cut(fallback, capacity);
    const auto line = FindKey(file, *range, key);
    // A bare key with no "=" holds no value at all: it reads as absent, while
    // a write still replaces that line.
    if (!line || Trim(file.lines[*line].text).find(u'=') == std::u16string_view::npos) return Cut(fallback, capacity);
    return Cut(Unquote(SplitEntry(Trim(file.lines[*line].text)).value), capacity);
}

bool WriteIniValue(const std::u16string& path, const std::u16string& section, const std::u16string& key,
                   const std::u16string& value) {
    IniFile file;
    if (PathExists(path)) {
        const auto bytes = ReadBytes(path);
        if (!bytes) return false;
        file = ParseFile(*bytes);
    }
    const std::u16string entry = key + u"=" + value;
    if (const auto range = FindSection(file, section)) {
        if (const auto found = FindKey(file, *range, key)) {
            // The key keeps its spelling and its line end.
            Line& line = file.lines[*found];
            const std::u16string_view text(line.text);
            const auto keyEnd = text.find(u'=');
            const std::u16string kept(Trim(keyEnd == std::u16string_view::npos ? text : text.substr(0, keyEnd)));
            const std::u16string ending = LineEnd(file.encoding, line);
            line.text = kept + u"=" + value;
            line.raw = Encode(file.encoding, line.text + ending);
        } else {
            // After the section's last non-blank line, so that blank lines
            // keep separating it from the next section.
            std::size_t at = range->end;
            while (at > range->header + 1 && Trim(file.lines[at - 1].text).empty()) --at;
            Line& before = file.lines[at - 1];
            if (LineEnd(file.encoding, before).empty()) before.raw += Encode(file.encoding, u"\r\n");
            file.lines.insert(file.lines.begin() + static_cast<std::ptrdiff_t>(at), MakeLine(file.encoding, entry));
        }
    } else {
        if (!file.lines.empty() && LineEnd(file.encoding, file.lines.back()).empty())
            file.lines.back().raw += Encode(file.encoding, u"\r\n");
        file.lines.push_back(MakeLine(file.encoding, u"[" + section + u"]"));
        file.lines.push_back(MakeLine(file.encoding, entry));
    }

    std::string bytes = file.bom;
    for (const Line& line : file.lines) bytes += line.raw;
    // Written beside the file and moved over it, so that a failed write
    // leaves the old file whole and a reader never sees half a file.
    const std::u16string temporary = path + u".tmp~";
    {
        std::ofstream out(Utf16ToUtf8(temporary), std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            RemoveFile(temporary);
            return false;
        }
    }
    if (!MoveReplacing(temporary, path)) {
        RemoveFile(temporary);
        return false;
    }
    return true;
}

}  // namespace platform
