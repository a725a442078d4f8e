#pragma once

// The process-wide debug log. Expected failures write one line here and return
// false; nothing in the engines prints anywhere else.
//
// Line form: "Stem(n)" alone, or "Stem(n): " followed by values separated by
// single blanks, then '\n'. Write a line with
//     logAt("Config", 149) << ": " << key << ' ' << value << '\n';
// The stem is the class of the file that writes the line, and the number is
// fixed and names one event only (never __LINE__, which moves with every edit):
// users and tests grep for these tags.

#include "core/Types.h"

#include <cstddef>
#include <ostream>
#include <string>

// The current log stream. Until setUpLogStream runs it is the in-memory one, so
// a line written during static initialisation is kept, not lost or crashed on.
// The streams are never destroyed: lines written by static destructors land.
std::ostream& logStream();
// "null", "stderr", "ostringstream" or "ofstream".
const char* logStreamKind();

// Chooses the target once at start-up: null or "ostringstream" keeps the log in
// memory, "null" discards it, "stderr" writes to standard error, anything else is
// a file name (truncated; standard error when it cannot be opened). File targets
// flush every line so that a crash loses nothing the report needs.
void setUpLogStream(const char* target);

// The in-memory target keeps the first LOG_MEMORY_HEAD_BYTES of the log and its
// last LOG_MEMORY_TAIL_BYTES, each cut to whole lines: a run that logs without
// end (a damaged disk, a hostile file) cannot take the memory the recovery
// needs, and the log still shows how it started and how it ended.
constexpr std::size_t LOG_MEMORY_HEAD_BYTES = std::size_t(4) << 20;
constexpr std::size_t LOG_MEMORY_TAIL_BYTES = std::size_t(4) << 20;

// The text the in-memory target keeps (Save Debug writes it): its head, then,
// when lines were left out between head and tail, the line
// "Log(60): N bytes left out", then its tail. With `from`, only what was written
// after the first `from` bytes (a count that logMemoryWritten gave).
std::string logMemoryText(u64 from = 0);
// How many bytes were ever written to the in-memory target, kept or not.
u64 logMemoryWritten();

// Writes "stem(line)" to the log and returns it for the rest of the line.
std::ostream& logAt(const char* stem, int line);

// While it exists, the lines that this thread writes go to `to` instead of the
// log. The log is written from the main thread only: a worker thread keeps its
// lines here, and the main thread writes them where they belong.
class ThreadLogRedirect {
public:
    explicit ThreadLogRedirect(std::ostream& to);
    ~ThreadLogRedirect();
    ThreadLogRedirect(const ThreadLogRedirect&) = delete;
    ThreadLogRedirect& operator=(const ThreadLogRedirect&) = delete;

private:
    std::ostream* previous_;
};

// The return addresses of the calling chain, "0x..." separated by blanks: at most
// min(maxDepth, 17) levels, empty for 0.
std::string stackTraceString(unsigned maxDepth);

// A stream buffer that swallows everything and never fails.
template <typename T> class StreambufNull : public std::basic_streambuf<char> {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};
