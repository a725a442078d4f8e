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
#include <string>
#include <vector>

namespace {

const GIConv NO_CONVERTER = reinterpret_cast<GIConv>(-1);

// Whether a converter for this charset converts alike however often it is used.
// The Unicode forms with a byte-order mark read the mark only on a converter's
// first use and keep its byte order for good: those are opened anew each time.
bool convertsAlikeEachUse(const char* charset) {
    std::string bare;
    for (const char* c = charset; *c; ++c)
        if (g_ascii_isalnum(*c))
            bare += g_ascii_toupper(*c);
    for (const char* form : {"UTF16", "UTF32", "UCS", "UNICODE", "10646"})
        if (bare.find(form) != std::string::npos)
            return false;
    return true;
}

// Converters kept open from one conversion to the next, one per pair of
// charsets: opening one costs far more than converting a name, and a tree
// converts a short name for each of its entries. Few pairs are in use (the code
// page of short names, the file-name charset, the carver's code pages), but a
// disk names charsets too (a document's code page): when the list is full, the
// pair used longest ago is closed. Every use starts from the initial state,
// whatever the last one left (a conversion that stopped half-way through a
// multibyte or shifted sequence).
class Converters {
public:
    static constexpr std::size_t MAX_OPEN = 8;

    ~Converters() {
        for (const Open& open : open_)
            if (open.cd != NO_CONVERTER)
                g_iconv_close(open.cd);
    }

    // use(cd) with the converter from `from` to `to`, NO_CONVERTER when the
    // system has none; its result.
    template <typename Use> auto with(const char* to, const char* from, Use use) {
        std::unique_lock<std::mutex> hold(lock_);
        const Open& open = find(to, from);
        if (!open.kept) {
            hold.unlock();
            const GIConv cd = g_iconv_open(to, from);
            struct Closer {
                GIConv cd;
                ~Closer() {
                    if (cd != NO_CONVERTER)
                        g_iconv_close(cd);
                }
            } closer{cd};
            return use(cd);
        }
        if (open.cd != NO_CONVERTER)
            g_iconv(open.cd, nullptr, nullptr, nullptr, nullptr);
        return use(open.cd);
    }

private:
    struct Open {
        std::string to;
        std::string from;
        // False for a pair that is opened anew for each use (cd stays closed).
        bool kept;
        GIConv cd;
    };

    // The pair's entry, first in the list now.
    const Open& find(const char* to, const char* from) {
        for (std::size_t i = 0; i < open_.size(); ++i) {
            if (open_[i].to == to && open_[i].from == from) {
                std::rotate(open_.begin(), open_.begin() + static_cast<std::ptrdiff_t>(i),
                            open_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return open_.front();
            }
        }
        if (open_.size() == MAX_OPEN) {
            if (open_.back().cd != NO_CONVERTER)
                g_iconv_close(open_.back().cd);
            open_.pop_back();
        }
        // Whether a pair may stay open is decided once, not for every name. A
        // pair the system cannot convert is listed too, so that it is not
        // looked up again for every name.
        const bool kept = convertsAlikeEachUse(to) && convertsAlikeEachUse(from);
        open_.insert(open_.begin(),
                     Open{to, from, kept, kept ? g_iconv_open(to, from) : NO_CONVERTER});
        return open_.front();
    }

    std::mutex lock_;
    // The pair used last first.
    std::vector<Open> open_;
};

Converters& converters() {
    static Converters open;
    return open;
}

// The file-name charset, and whether toFileNameCharset can convert to it and back.
struct Charset {
    std::string name = "UTF-8";
    bool convertible = true;
    std::mutex lock;
};

Charset& nameCharset() {
    static Charset charset;
    return charset;
}

struct GFree {
    void operator()(gchar* p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// As g_convert_with_fallback, through a converter kept open.
GCharPtr convertOnce(const char* text, std::size_t length, const char* to, const char* from,
                     const char* fallback, gsize& read, gsize& written) {
    read = 0;
    written = 0;
    GError* error = nullptr;
    GCharPtr out = converters().with(to, from, [&](GIConv cd) {
        return GCharPtr(cd == NO_CONVERTER ? nullptr
                                           : g_convert_with_iconv(text, static_cast<gssize>(length),
                                                                  cd, &read, &written, &error));
    });
    const bool illegal = error != nullptr &&
                         g_error_matches(error, G_CONVERT_ERROR, G_CONVERT_ERROR_ILLEGAL_SEQUENCE);
    if (error)
        g_error_free(error);
    if (!illegal)
        return out;
    // A character the target lacks (or a sequence the source charset has not):
    // the fallback's own way, as rare as a damaged name.
    error = nullptr;
    out.reset(g_convert_with_fallback(text, static_cast<gssize>(length), to, from, fallback, &read,
                                      &written, &error));
    if (error)
        g_error_free(error);
    return out;
}

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The UTF-16 units of the character that starts with `lead`: two for the four
// bytes of one outside the Basic Multilingual Plane.
std::size_t utf16Width(char lead) {
    return static_cast<unsigned char>(lead) >= 0xF0 ? 2 : 1;
}

// The controls and "*/:<>?\| that Windows and its file systems refuse; asked
// of every byte of every name a tree holds.
constexpr bool isRefusedCharacter(unsigned char c) {
    switch (c) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
        return true;
    default:
        return c < 32;
    }
}

// The superscript digits that Windows takes for COM and LPT numbers too.
const char* const SUPERSCRIPT_DIGITS[] = {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"};

// The length of the last character of a device name that `stem` is (Windows
// reads a name up to its first dot, blanks before the dot aside, as a device
// name); 0 when it is none.
std::size_t reservedDeviceSuffix(const std::string& stem) {
    if (stem.size() < 3)
        return 0;
    auto is = [&](const char* reserved) {
        return g_ascii_strncasecmp(stem.c_str(), reserved, 3) == 0;
    };
    const std::string number = stem.substr(3);
    if (number.empty())
        return is("CON") || is("PRN") || is("AUX") || is("NUL") ? 1 : 0;
    if (!is("COM") && !is("LPT"))
        return 0;
    if (number.size() == 1 && number[0] >= '0' && number[0] <= '9')
        return 1;
    for (const char* digit : SUPERSCRIPT_DIGITS)
        if (number == digit)
            return number.size();
    return 0;
}

std::string foldUnicodeCase(const std::string& name) {
    GCharPtr valid(g_utf8_make_valid(name.data(), static_cast<gssize>(name.size())));
    // Windows and its file systems compare each character's simple upper case,
    // which joins "ı" and "i"; Unicode's full folding joins what the systems
    // that fold names join ("ß" and "ss"). Both, so that no destination sees one
    // name in two that we keep apart.
    std::string upper;
    upper.reserve(name.size());
    for (const gchar* at = valid.get(); *at != '\0'; at = g_utf8_next_char(at)) {
        gchar bytes[6];
        const gint length = g_unichar_to_utf8(g_unichar_toupper(g_utf8_get_char(at)), bytes);
        upper.append(bytes, static_cast<std::size_t>(length));
    }
    GCharPtr folded(g_utf8_casefold(upper.data(), static_cast<gssize>(upper.size())));
    return folded.get();
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
    if (cd == NO_CONVERTER)
        return false;
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
        if (isRefusedCharacter(static_cast<unsigned char>(c)))
            c = '_';
    }
    // Device names, with an extension too ("aux.txt"): a destination that
    // keeps to Windows' rules refuses them, and a disk taken to a Windows
    // machine could not open the files.
    std::size_t stemEnd = std::min(name.find('.'), name.size());
    while (stemEnd > 0 && name[stemEnd - 1] == ' ')
        --stemEnd;
    // No device name is longer than "LPT" and a two-byte superscript digit.
    const std::size_t last =
        stemEnd >= 3 && stemEnd <= 5 ? reservedDeviceSuffix(name.substr(0, stemEnd)) : 0;
    if (last != 0)
        name.replace(stemEnd - last, last, "_");
    if (name.back() == ' ' || name.back() == '.')
        name.back() = '_';
}

std::string caseFoldedName(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x80)
            return foldUnicodeCase(name);
        if (u >= 'A' && u <= 'Z')
            c = static_cast<char>(u + ('a' - 'A'));
    }
    return folded;
}

std::string asciiFileName(const std::string& name) {
    std::string ascii;
    for (char c : name) {
        // One '_' for each character, at its lead byte. DEL is no more printable
        // than the controls: a FAT driver refuses it, and a safe form refused
        // again would give the file up.
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F)
            ascii += c;
        else if (!isContinuation(c))
            ascii += '_';
    }
    sanitizeFileName(ascii);
    return ascii;
}

std::string toFileNameCharset(const std::string& name) {
    // A name from a damaged directory may not be UTF-8; the conversion would stop
    // at the first bad byte and lose the rest of the name.
    GCharPtr valid(g_utf8_make_valid(name.data(), static_cast<gssize>(name.size())));
    std::string utf8(valid.get());
    std::string target;
    {
        Charset& charset = nameCharset();
        std::lock_guard<std::mutex> hold(charset.lock);
        if (!charset.convertible)
            return utf8;
        target = charset.name;
    }
    std::string there, back;
    if (converters().with(target.c_str(), "UTF-8",
                          [&](GIConv cd) { return convertWithEscapes(cd, utf8, true, there); }) &&
        converters().with("UTF-8", target.c_str(),
                          [&](GIConv cd) { return convertWithEscapes(cd, there, false, back); }))
        return back;
    there = convertCharset(utf8.data(), utf8.size(), target.c_str(), "UTF-8", nullptr);
    return convertCharset(there.data(), there.size(), "UTF-8", target.c_str(), nullptr);
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
    return converters().with(to, from, [](GIConv cd) { return cd != NO_CONVERTER; });
}

void truncateHead(std::string& name, std::size_t maxBytes, std::size_t maxUtf16Units) {
    std::size_t units = 0;
    for (char c : name)
        if (!isContinuation(c))
            units += utf16Width(c);
    if (name.size() <= maxBytes && units <= maxUtf16Units)
        return;
    // The tail grows by whole characters from the end while it leaves room for
    // the "~"; bytes that belong to no character end it.
    const std::size_t roomBytes = maxBytes > 0 ? maxBytes - 1 : 0;
    const std::size_t roomUnits = maxUtf16Units > 0 ? maxUtf16Units - 1 : 0;
    std::size_t start = name.size();
    units = 0;
    while (start > 0) {
        std::size_t lead = start - 1;
        while (lead > 0 && isContinuation(name[lead]))
            --lead;
        units += utf16Width(name[lead]);
        if (isContinuation(name[lead]) || name.size() - lead > roomBytes || units > roomUnits)
            break;
        start = lead;
    }
    name = "~" + name.substr(start);
}

void truncateHeadToBytes(std::string& name, std::size_t maxBytes) {
    truncateHead(name, maxBytes, SIZE_MAX);
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
