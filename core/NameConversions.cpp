#include "core/NameConversions.h"

#include "core/DateTime.h"
#include "core/FileNames.h"
#include "core/Log.h"

namespace {

struct CodePage {
    std::string name = "CP437";
    int number = 850;
    bool convertible = true;
};

CodePage& codePage() {
    static CodePage page;
    return page;
}

constexpr u32 REPLACEMENT = 0xFFFD;

void appendUtf8(std::string& out, u32 c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isHighSurrogate(u16 u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(u16 u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

const std::string& getCodePageName() {
    return codePage().name;
}

int getCodePage() {
    return codePage().number;
}

void setCodePage(const std::string& name) {
    CodePage& page = codePage();
    page.name = name;
    page.number = 0;
    if (name.size() > 2 && (name[0] == 'C' || name[0] == 'c') &&
        (name[1] == 'P' || name[1] == 'p')) {
        for (std::size_t i = 2; i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) {
            page.number = page.number * 10 + (name[i] - '0');
            if (page.number > 99999)
                break;
        }
    }
    page.convertible = canConvert(name.c_str(), "UTF-8");
    if (!page.convertible)
        logAt("NameConversions", 71) << ": " << name << " unknown, read as ISO8859-1\n";
}

std::string codePageToUtf8(const std::string& bytes) {
    const CodePage& page = codePage();
    const char* from = page.convertible ? page.name.c_str() : "ISO8859-1";
    return convertToUtf8(bytes.data(), bytes.size(), from);
}

std::string utf16ToUtf8(const u16* units, std::size_t count, std::size_t* unitsRead) {
    std::string out;
    std::size_t i = 0;
    while (i < count && units[i] != 0) {
        u16 u = units[i++];
        if (isHighSurrogate(u) && i < count && isLowSurrogate(units[i])) {
            u32 c = 0x10000 + ((static_cast<u32>(u) - 0xD800) << 10) + (units[i++] - 0xDC00u);
            appendUtf8(out, c);
        } else if (isHighSurrogate(u) || isLowSurrogate(u)) {
            appendUtf8(out, REPLACEMENT);
        } else {
            appendUtf8(out, u);
        }
    }
    if (unitsRead)
        *unitsRead = i;
    return out;
}

std::string utf16CharToUtf8(u16 unit) {
    return utf16ToUtf8(&unit, 1);
}

u32 fileTimeToUnixTime(u64 ticks) {
    return fileTimeToTime(ticks);
}
