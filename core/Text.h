#pragma once

// The texts with variable parts that the user sees: numbered placeholders filled
// into translated formats, byte counts, progress, durations, markup escaping, and
// the small string tools around them.

#include "core/Types.h"

#include <string>
#include <type_traits>
#include <utility>

// One argument of formatMessage. Built implicitly from text, so callers pass a
// string or a literal alike; whole numbers come in as their decimal text.
class MessageArg {
public:
    MessageArg(std::string text) : text_(std::move(text)) {}
    MessageArg(const char* text) : text_(text ? text : "") {}
    template <typename T,
              typename = std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool> &&
                                          !std::is_same_v<T, char>>>
    MessageArg(T value) : text_(std::to_string(value)) {}

    const std::string& text() const { return text_; }

    // What a placeholder shows when the caller did not pass its argument: "%?".
    static const MessageArg& missing();

private:
    std::string text_;
};

// Fills "%1" to "%5" of the (already translated) format with the arguments as they
// are; "%%" is one '%'; a '%' before anything else stays as it is.
std::string formatMessage(const char* format, const MessageArg& a1 = MessageArg::missing(),
                          const MessageArg& a2 = MessageArg::missing(),
                          const MessageArg& a3 = MessageArg::missing(),
                          const MessageArg& a4 = MessageArg::missing(),
                          const MessageArg& a5 = MessageArg::missing());

// "999", "1.000KB", "12.35MB", "100.0GB": powers of 1000, the unit right after.
std::string formatSize(u64 bytes);
// "%1 of %2" with both amounts in the unit chosen for the total, the unit once at
// the end: "1.250 of 4.700GB".
std::string formatProgress(u64 done, u64 total);
// "1,234,567".
std::string formatThousands(u64 value);
// " 1 hour  2 minutes", or " 1 minute  5 seconds" below an hour.
std::string formatDuration(u32 seconds);

template <typename T> std::string toString(T value) {
    static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>,
                  "toString writes whole numbers");
    return std::to_string(value);
}

// The text without the leading and trailing characters that are in `set`.
std::string trim(std::string text, const char* set);

// Appends every piece between delimiters, empty ones included: "a,b," gives "a",
// "b" and "".
template <typename Container> void split(const std::string& text, Container& out, char delimiter) {
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = text.find(delimiter, start);
        if (end == std::string::npos) {
            out.push_back(text.substr(start));
            return;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// `text` as Pango markup that shows it as it stands: the message box reads
// markup, and names from a disk or a command line may hold "<" and "&".
std::string escapeMarkup(const std::string& text);

// Text read from a disk or a file as a label, store or buffer may take it:
// invalid UTF-8 sequences become U+FFFD, everything else stays.
std::string validUtf8(const std::string& text);

// A name from a disk as a report line or a list row may show it: valid UTF-8
// (as validUtf8 makes it), with every control character (C0, DEL and C1)
// written as a C escape ("\n", "\t", "\r", else "\x1b", "\u009b"), so that
// a line feed cannot split a line and an escape sequence cannot reach a
// terminal.
std::string printableName(const std::string& name);
