#include "core/Text.h"

#include "core/Intl.h"

#include <glib.h>

#include <cstdio>
#include <cstring>

const MessageArg& MessageArg::missing() {
    static const MessageArg arg("%?");
    return arg;
}

std::string formatMessage(const char* format, const MessageArg& a1, const MessageArg& a2,
                          const MessageArg& a3, const MessageArg& a4, const MessageArg& a5) {
    const MessageArg* args[] = {&a1, &a2, &a3, &a4, &a5};
    std::string result;
    if (!format)
        return result;
    const char* p = format;
    while (const char* percent = std::strchr(p, '%')) {
        result.append(p, percent);
        char next = percent[1];
        if (next >= '1' && next <= '5') {
            result += args[next - '1']->text();
            p = percent + 2;
        } else if (next == '%') {
            result += '%';
            p = percent + 2;
        } else {
            // A stray '%' stays; what follows it is ordinary text.
            result += '%';
            p = percent + 1;
        }
    }
    result += p;
    return result;
}

namespace {

struct Unit {
    const char* name;
    u64 divisor;
};

// The limits sit at 999.95 of the smaller unit, so that nothing prints as
// "1000.0" of one unit instead of "1.000" of the next.
Unit unitFor(u64 bytes) {
    if (bytes < 999950ull)
        return {N_("KB"), 1000ull};
    if (bytes < 999950000ull)
        return {N_("MB"), 1000000ull};
    if (bytes < 999950000000ull)
        return {N_("GB"), 1000000000ull};
    return {N_("TB"), 1000000000000ull};
}

// Three significant places below 100, one above.
std::string scaled(u64 amount, u64 divisor) {
    float q = static_cast<float>(amount) / static_cast<float>(divisor);
    const char* format = q < 10.0f ? "%.3f" : q < 100.0f ? "%.2f" : "%.1f";
    // Wide enough for any u64 over the smallest divisor: nothing is cut off.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, static_cast<double>(q));
    return buffer;
}

std::string rightAligned(u32 value, std::size_t width) {
    std::string text = std::to_string(value);
    if (text.size() < width)
        text.insert(0, width - text.size(), ' ');
    return text;
}

} // namespace

std::string formatSize(u64 bytes) {
    if (bytes <= 999)
        return std::to_string(bytes);
    Unit unit = unitFor(bytes);
    return scaled(bytes, unit.divisor) + _(unit.name);
}

std::string formatProgress(u64 done, u64 total) {
    if (total < 1000)
        return formatMessage(_("%1 of %2"), done, total);
    Unit unit = unitFor(total);
    return formatMessage(_("%1 of %2"), scaled(done, unit.divisor), scaled(total, unit.divisor)) +
           _(unit.name);
}

std::string formatThousands(u64 value) {
    std::string digits = std::to_string(value);
    std::string result;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        result += digits[i];
        std::size_t still = digits.size() - i - 1;
        if (still > 0 && still % 3 == 0)
            result += ',';
    }
    return result;
}

std::string formatDuration(u32 seconds) {
    u32 hours = seconds / 3600;
    u32 minutes = seconds / 60 % 60;
    u32 secs = seconds % 60;
    u32 big = hours > 0 ? hours : minutes;
    u32 small = hours > 0 ? minutes : secs;
    const char* bigWord =
        hours > 0 ? ngettext_("hour", "hours", hours) : ngettext_("minute", "minutes", minutes);
    const char* smallWord =
        hours > 0 ? ngettext_("minute", "minutes", minutes) : ngettext_("second", "seconds", secs);
    return rightAligned(big, 2) + ' ' + bigWord + rightAligned(small, 3) + ' ' + smallWord;
}

std::string trim(std::string text, const char* set) {
    std::string::size_type first = text.find_first_not_of(set);
    if (first == std::string::npos)
        return std::string();
    std::string::size_type last = text.find_last_not_of(set);
    return text.substr(first, last - first + 1);
}

std::string validUtf8(const std::string& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return text;
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string result(valid);
    g_free(valid);
    return result;
}

std::string printableName(const std::string& name) {
    const std::string valid = validUtf8(name);
    std::string shown;
    shown.reserve(valid.size());
    char escape[8];
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const u8 c = static_cast<u8>(valid[i]);
        // C1 controls are U+0080 to U+009F: 0xC2 then 0x80 to 0x9F.
        const bool c1 = c == 0xC2 && i + 1 < valid.size() && static_cast<u8>(valid[i + 1]) < 0xA0;
        if (c >= 0x20 && c != 0x7F && !c1) {
            shown += valid[i];
            continue;
        }
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c1) {
            // The second byte is the code point itself.
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<u8>(valid[++i]));
            shown += escape;
        } else {
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            shown += escape;
        }
    }
    return shown;
}

std::string escapeMarkup(const std::string& raw) {
    // g_markup_escape_text expects UTF-8 and passes broken bytes through.
    const std::string text = validUtf8(raw);
    gchar* escaped = g_markup_escape_text(text.c_str(), static_cast<gssize>(text.size()));
    std::string result = escaped;
    g_free(escaped);
    return result;
}
