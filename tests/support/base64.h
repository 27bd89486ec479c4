#pragma once
// Base64 with padding, as a backup's name carries the folder it came from:
// the tests make such names from paths they choose.

#include <string>

namespace testsupport {

inline std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (unsigned char c : bytes) {
        bits = (bits << 8) | c;
        for (count += 8; count >= 6;) out += kAlphabet[(bits >> (count -= 6)) & 63];
    }
    if (count > 0) out += kAlphabet[(bits << (6 - count)) & 63];
    while (out.size() % 4) out += '=';
    return out;
}

}  // namespace testsupport
