#include "platform/MountTable.h"

#include "platform/BlockDeviceList.h"

#include <sstream>

namespace platform {

namespace {

// The kernel writes blank, tab, line end and backslash as \ooo.
std::string unescape(const std::string& text) {
    std::string out;
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const char a = text[i + 1], b = text[i + 2], c = text[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

bool parseNumber(const std::string& text, u32& out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = static_cast<u32>(std::stoul(text));
    return true;
}

} // namespace

bool parseMountInfoLine(const std::string& line, MountEntry& out) {
    std::istringstream in(line);
    std::vector<std::string> fields;
    for (std::string f; in >> f;)
        fields.push_back(f);
    // id parent major:minor root mountpoint options [optional...] - fstype source super
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-")
        ++dash;
    if (fields.size() < 6 || dash + 2 >= fields.size())
        return false;
    const std::string& number = fields[2];
    std::string::size_type colon = number.find(':');
    MountEntry e;
    if (colon == std::string::npos || !parseNumber(number.substr(0, colon), e.major) ||
        !parseNumber(number.substr(colon + 1), e.minor))
        return false;
    e.root = unescape(fields[3]);
    e.mountPoint = unescape(fields[4]);
    e.fsType = fields[dash + 1];
    e.source = unescape(fields[dash + 2]);
    out = e;
    return true;
}

std::vector<MountEntry> parseMountInfo(const std::string& text) {
    std::vector<MountEntry> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        MountEntry e;
        if (parseMountInfoLine(line, e))
            out.push_back(e);
    }
    return out;
}

bool readMountTable(const SystemRoots& roots, std::vector<MountEntry>& out) {
    std::string text;
    if (!readSysfsText(roots.mountInfo, text))
        return false;
    out = parseMountInfo(text);
    return true;
}

bool isBlockBacked(const MountEntry& entry) {
    return entry.major != 0 || entry.source.compare(0, 5, "/dev/") == 0;
}

} // namespace platform
