#include "core/Array.h"

namespace {
const char HEX_DIGITS[] = "0123456789ABCDEF";
}

bool hexDigitValue(u8& out, char c) {
    if (c >= '0' && c <= '9')
        out = static_cast<u8>(c - '0');
    else if (c >= 'a' && c <= 'f')
        out = static_cast<u8>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        out = static_cast<u8>(c - 'A' + 10);
    else
        return false;
    return true;
}

bool hexByteValue(u8& out, const char* twoChars) {
    u8 hi, lo;
    if (!hexDigitValue(hi, twoChars[0]) || !hexDigitValue(lo, twoChars[1]))
        return false;
    out = static_cast<u8>(hi << 4 | lo);
    return true;
}

bool hexDecode(u8* out, u32 n, const char* text) {
    for (u32 i = 0; i < n; ++i) {
        // A NUL in the first place fails hexDigitValue, so the second is never read
        // past the end.
        if (!hexByteValue(out[i], text + 2 * static_cast<std::size_t>(i)))
            return false;
    }
    return text[2 * static_cast<std::size_t>(n)] == '\0';
}

void hexNibbleChar(char& out, u8 value) {
    out = HEX_DIGITS[value & 0x0F];
}

void hexByteChars(char* outTwo, u8 byte) {
    outTwo[0] = HEX_DIGITS[byte >> 4];
    outTwo[1] = HEX_DIGITS[byte & 0x0F];
}

char* hexEncode(char* out, const u8* bytes, u32 n) {
    for (u32 i = 0; i < n; ++i, out += 2)
        hexByteChars(out, bytes[i]);
    *out = '\0';
    return out;
}

void appendHexByte(std::string& s, u8 byte) {
    s += HEX_DIGITS[byte >> 4];
    s += HEX_DIGITS[byte & 0x0F];
}

void appendHex(std::string& s, const u8* bytes, u32 n) {
    s.reserve(s.size() + 2 * static_cast<std::size_t>(n));
    for (u32 i = 0; i < n; ++i)
        appendHexByte(s, bytes[i]);
}

std::string toHex(u8 byte) {
    std::string s;
    appendHexByte(s, byte);
    return s;
}

std::string toHex(const u8* bytes, u32 n) {
    std::string s;
    appendHex(s, bytes, n);
    return s;
}

std::string toHexList(const u8* bytes, u32 n) {
    std::string s;
    for (u32 i = 0; i < n; ++i) {
        if (i)
            s += ", ";
        s += "0x";
        appendHexByte(s, bytes[i]);
    }
    return s;
}
