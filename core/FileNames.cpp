#include "core/FileNames.h"

#include "core/Log.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

// The file-name charset, and the pair of converters toFileNameCharset uses,
// opened once for it: opening a converter costs more than converting a name.
struct Charset {
    std::string name = "UTF-8";
    bool convertible = true;
    GIConv there = reinterpret_cast<GIConv>(-1);
    GIConv back = reinterpret_cast<GIConv>(-1);
    std::mutex lock; // a converter holds state while it works

    void closeConverters() {
        for (GIConv* cd : {&there, &back}) {
            if (*cd != reinterpret_cast<GIConv>(-1))
                g_iconv_close(*cd);
            *cd = reinterpret_cast<GIConv>(-1);
        }
    }
    ~Charset() { closeConverters(); }
};

Charset& nameCharset() {
    static Charset charset;
    return charset;
}

struct GFree {
    void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

GCharPtr convertOnce(const char* text, std::size_t length, const char* to, const char* from,
                     const char* fallback, gsize& read, gsize& written) {
    GError* error = nullptr;
    read = 0;
    written = 0;
    GCharPtr out(g_convert_with_fallback(text, static_cast<gssize>(length), to, from, fallback,
                                         &read, &written, &error));
    if (error)
        g_error_free(error);
    return out;
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool isReservedDeviceName(const std::string& name) {
    auto is = [&](const char* reserved) {
        return g_ascii_strncasecmp(name.c_str(), reserved, 3) == 0;
    };
    if (name.size() == 3)
        return is("CON") || is("PRN") || is("AUX") || is("NUL");
    if (name.size() == 4 && name[3] >= '0' && name[3] <= '9')
        return is("COM") || is("LPT");
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isOctal(char c) {
    return c >= '0' && c <= '7';
}

// What convertCharset(text, to, from) with a null fallback gives, through an
// open converter: characters the target lacks become "\\uXXXX" escapes (for a
// UTF-8 text only). False (out unspecified) where the text or an escape does
// not convert cleanly; the caller then takes the long way.
bool convertWithEscapes(GIConv cd, const std::string& text, bool fromUtf8, std::string& out) {
    constexpr std::size_t FAILED = ~std::size_t{0};
    g_iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out.assign(text.size() * 4 + 16, '\0');
    gsize used = 0;
    // Converts the input (none: ends the shift state); 0 when all of it was,
    // the bytes left when it stopped at a character the target lacks, FAILED
    // for anything else.
    auto run = [&](const char* input, gsize length) -> std::size_t {
        gchar* in = const_cast<gchar*>(input);
        gsize inLeft = length;
        for (;;) {
            gchar* at = &out[used];
            gsize outLeft = out.size() - used;
            const gsize result =
                g_iconv(cd, in ? &in : nullptr, in ? &inLeft : nullptr, &at, &outLeft);
            used = out.size() - outLeft;
            if (result != static_cast<gsize>(-1))
                return 0;
            if (errno == E2BIG)
                out.resize(out.size() * 2);
            else
                return errno == EILSEQ && in && inLeft != 0 ? inLeft : FAILED;
        }
    };
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t left = run(text.data() + at, text.size() - at);
        if (left == 0)
            break;
        if (left == FAILED || !fromUtf8)
            return false;
        at = text.size() - left;
        const gunichar c = g_utf8_get_char_validated(text.data() + at, static_cast<gssize>(left));
        if (c >= 0xFFFFFFFEu)
            return false;
        char escape[16];
        std::snprintf(escape, sizeof escape, c < 0x10000 ? "\\u%04x" : "\\U%08x", c);
        if (run(escape, std::strlen(escape)) != 0)
            return false;
        at = static_cast<std::size_t>(g_utf8_next_char(text.data() + at) - text.data());
    }
    if (run(nullptr, 0) != 0)
        return false;
    out.resize(used);
    return true;
}

} // namespace

void setFileNameCharset(const std::string& name) {
    Charset& charset = nameCharset();
    std::lock_guard<std::mutex> hold(charset.lock);
    charset.closeConverters();
    charset.name = name;
    charset.convertible = canConvert("UTF-8", name.c_str()) && canConvert(name.c_str(), "UTF-8");
    if (!charset.convertible)
        logAt("FileNames", 77) << ": " << name << " unknown, names stay UTF-8\n";
}

const std::string& fileNameCharset() {
    return nameCharset().name;
}

void sanitizeFileName(std::string& name) {
    if (name.empty()) {
        name = "_";
        return;
    }
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 32 || std::strchr("\"*/:<>?\\|", c))
            c = '_';
    }
    // Device names: a disk taken to a Windows machine could not open these files.
    if (isReservedDeviceName(name) || name.back() == ' ' || name.back() == '.')
        name.back() = '_';
}

std::string toFileNameCharset(const std::string& name) {
    // A name from a damaged directory may not be UTF-8; the conversion would stop
    // at the first bad byte and lose the rest of the name.
    GCharPtr valid(g_utf8_make_valid(name.data(), static_cast<gssize>(name.size())));
    std::string utf8(valid.get());
    Charset& charset = nameCharset();
    std::lock_guard<std::mutex> hold(charset.lock);
    if (!charset.convertible)
        return utf8;
    if (charset.there == reinterpret_cast<GIConv>(-1)) {
        charset.there = g_iconv_open(charset.name.c_str(), "UTF-8");
        charset.back = g_iconv_open("UTF-8", charset.name.c_str());
    }
    std::string there, back;
    if (charset.there != reinterpret_cast<GIConv>(-1) &&
        charset.back != reinterpret_cast<GIConv>(-1) &&
        convertWithEscapes(charset.there, utf8, true, there) &&
        convertWithEscapes(charset.back, there, false, back))
        return back;
    there = convertCharset(utf8.data(), utf8.size(), charset.name.c_str(), "UTF-8", nullptr);
    return convertCharset(there.data(), there.size(), "UTF-8", charset.name.c_str(), nullptr);
}

std::string convertCharset(const char* text, std::size_t length, const char* to, const char* from,
                           const char* fallback) {
    if (!text || length == 0)
        return std::string();
    gsize read = 0;
    gsize written = 0;
    GCharPtr out = convertOnce(text, length, to, from, fallback, read, written);
    if (!out && read > 0 && read < length)
        out = convertOnce(text, read, to, from, fallback, read, written);
    if (!out)
        return std::string();
    return std::string(out.get(), written);
}

std::string convertToUtf8(const char* text, std::size_t length, const char* from) {
    return convertCharset(text, length, "UTF-8", from, nullptr);
}

bool canConvert(const char* from, const char* to) {
    GIConv cd = g_iconv_open(to, from);
    if (cd == reinterpret_cast<GIConv>(-1))
        return false;
    g_iconv_close(cd);
    return true;
}

void truncateHeadToBytes(std::string& name, std::size_t maxBytes) {
    if (name.size() <= maxBytes)
        return;
    std::size_t start = name.size() - maxBytes + 1;
    while (start < name.size() && isContinuation(name[start]))
        ++start;
    name = "~" + name.substr(std::min(start, name.size()));
}

bool makeUniqueFileName(const std::string& dir, std::string& name,
                        const std::function<bool(const std::string&)>& isUsable,
                        unsigned maxTries) {
    if (isUsable(dir + name))
        return true;
    // The extension is what follows the last dot of the last path element only.
    std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && name.find_first_of("/\\", dot) != std::string::npos)
        dot = std::string::npos;
    std::string base = name.substr(0, dot);
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    for (unsigned i = 1; i <= maxTries; ++i) {
        std::string candidate = base + "-" + std::to_string(i) + extension;
        if (isUsable(dir + candidate)) {
            name = candidate;
            return true;
        }
    }
    return false;
}

std::string decodeCString(const std::string& text) {
    std::string out;
    const char* p = text.c_str();
    while (*p) {
        char c = *p++;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (isOctal(*p)) {
            unsigned value = 0;
            for (int n = 0; n < 3 && isOctal(*p); ++n)
                value = value * 8 + static_cast<unsigned>(*p++ - '0');
            if (value > 255)
                throw std::runtime_error("CString(28)");
            out += static_cast<char>(value);
            continue;
        }
        if (*p == 'x') {
            ++p;
            int high = hexValue(*p);
            if (high < 0)
                throw std::runtime_error("CString(42)");
            unsigned value = static_cast<unsigned>(high);
            ++p;
            int low = hexValue(*p);
            if (low >= 0) {
                value = value * 16 + static_cast<unsigned>(low);
                ++p;
                if (hexValue(*p) >= 0)
                    throw std::runtime_error("CString(60)");
            }
            out += static_cast<char>(value);
            continue;
        }
        switch (*p) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'v':
            out += '\v';
            break;
        case 'b':
            out += '\b';
            break;
        case 'r':
            out += '\r';
            break;
        case 'f':
            out += '\f';
            break;
        case 'a':
            out += '\a';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            throw std::runtime_error("CString(86)");
        }
        ++p;
    }
    return out;
}

CbrCharsets& CbrCharsets::instance() {
    static CbrCharsets charsets;
    return charsets;
}
