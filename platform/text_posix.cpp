// Code page 932 through iconv, so that the POSIX build reads archive entry
// names and backup names as a Japanese Windows system does. Windows' CP932
// includes the NEC and IBM extensions; glibc's "CP932" table has them too.

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "platform/text.h"

namespace platform {
namespace {

// One iconv descriptor per direction, opened once. iconv descriptors keep
// shift state, so each call resets it and callers are serialised.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    iconv_t get() const { return cd_; }
    std::mutex& lock() { return mutex_; }

private:
    iconv_t cd_;
    std::mutex mutex_;
};

Converter& ToUtf16() {
    static Converter c("UTF-16LE", "CP932");
    return c;
}
Converter& FromUtf16() {
    static Converter c("CP932", "UTF-16LE");
    return c;
}

// Converts one character's worth of input at a time only after a failure,
// so ordinary text goes through in a single call.
std::size_t Convert(iconv_t cd, const char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft) {
    return iconv(cd, const_cast<char**>(&in), &inLeft, &out, &outLeft);
}

// Code page 932 keeps 0x00-0x7F as ASCII, both ways: most names are plain
// ASCII and need neither the converter nor its lock.
bool AllAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}
bool AllAscii(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes) {
    std::u16string result;
    if (bytes.empty()) return result;
    if (AllAscii(bytes)) return std::u16string(bytes.begin(), bytes.end());
    Converter& conv = ToUtf16();
    std::lock_guard<std::mutex> guard(conv.lock());
    if (conv.get() == reinterpret_cast<iconv_t>(-1)) {
        for (char c : bytes) result.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'?');
        return result;
    }
    iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
    const char* in = bytes.data();
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char16_t buffer[512];
        char* out = reinterpret_cast<char*>(buffer);
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = Convert(conv.get(), in, inLeft, out, outLeft);
        const std::size_t produced = (sizeof buffer - outLeft) / sizeof(char16_t);
        result.append(buffer, produced);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // What Windows makes of bytes that form no character of code
            // page 932: 0x80, 0xA0 and 0xFD-0xFF stand for themselves (as
            // U+0080 and private-use U+F8F0-F8F3); a lead byte takes the next
            // byte with it, whatever it is, and both become U+30FB, as does a
            // lead byte at the very end.
            const auto lead = static_cast<unsigned char>(*in);
            const bool isLead = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC);
            std::size_t used = 1;
            if (lead == 0x80) {
                result.push_back(u'\u0080');
            } else if (lead == 0xA0) {
                result.push_back(u'\uF8F0');
            } else if (lead >= 0xFD) {
                result.push_back(static_cast<char16_t>(0xF8F1 + (lead - 0xFD)));
            } else if (isLead) {
                result.push_back(u'\u30FB');
                used = inLeft >= 2 ? 2 : 1;
            } else {
                result.push_back(u'?');
            }
            in += used;
            inLeft -= used;
            iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return result;
}

namespace {

// Characters iconv's code page 932 maps for compatibility with older
// Shift_JIS tables, which Windows' code page 932 does not have: Windows
// gives them the default character, and so must we.
bool WindowsLacks(char16_t c) {
    switch (c) {
        case 0x00A2: case 0x00A3: case 0x00A5: case 0x00AC:
        case 0x2016: case 0x203E: case 0x2212: case 0x301C:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string Utf16ToAnsi(std::u16string_view text, bool* usedDefault) {
    if (std::any_of(text.begin(), text.end(), WindowsLacks)) {
        std::u16string cleaned(text);
        bool replaced = false;
        for (char16_t& c : cleaned) {
            if (WindowsLacks(c)) {
                c = u'?';
                replaced = true;
            }
        }
        std::string out = Utf16ToAnsi(cleaned, usedDefault);
        if (usedDefault && replaced) *usedDefault = true;
        return out;
    }
    if (usedDefault) *usedDefault = false;
    std::string result;
    if (text.empty()) return result;
    if (AllAscii(text)) {
        result.reserve(text.size());
        for (char16_t c : text) result.push_back(static_cast<char>(c));
        return result;
    }
    Converter& conv = FromUtf16();
    std::lock_guard<std::mutex> guard(conv.lock());
    if (conv.get() == reinterpret_cast<iconv_t>(-1)) {
        for (char16_t c : text) {
            const bool ascii = c < 0x80;
            if (!ascii && usedDefault) *usedDefault = true;
            result.push_back(ascii ? static_cast<char>(c) : '?');
        }
        return result;
    }
    iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
    const char* in = reinterpret_cast<const char*>(text.data());
    std::size_t inLeft = text.size() * sizeof(char16_t);
    while (inLeft > 0) {
        char buffer[1024];
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = Convert(conv.get(), in, inLeft, out, outLeft);
        result.append(buffer, sizeof buffer - outLeft);
        if (r == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // A character code page 932 lacks: its default character, as
            // WideCharToMultiByte gives, one per UTF-16 unit (so a surrogate
            // pair becomes two).
            const std::size_t skip = sizeof(char16_t);
            result.push_back('?');
            if (usedDefault) *usedDefault = true;
            in += skip;
            inLeft -= skip;
            iconv(conv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return result;
}

unsigned AnsiCodePage() { return 932; }

std::u16string CodePageToUtf16(std::string_view bytes, unsigned codePage) {
    if (codePage == 932) return AnsiToUtf16(bytes);
    if (codePage == 65001) return Utf8ToUtf16(bytes);
    return {};
}

std::string Utf16ToCodePage(std::u16string_view text, unsigned codePage, bool* usedDefault) {
    if (usedDefault) *usedDefault = false;
    if (codePage == 932) return Utf16ToAnsi(text, usedDefault);
    if (codePage != 65001) return {};
    // A lone surrogate is the one thing UTF-8 can't hold.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        } else if ((high || low) && usedDefault) {
            *usedDefault = true;
        }
    }
    return Utf16ToUtf8(text);
}

}  // namespace platform
