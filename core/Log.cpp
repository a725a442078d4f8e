#include "core/Log.h"

#include <cstring>
#include <execinfo.h>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// Forwards to a file and flushes at every line end: a crash must not take the
// last lines with it.
class LineFlushBuf : public std::streambuf {
public:
    explicit LineFlushBuf(std::filebuf* file) : file_(file) {}

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        if (traits_type::eq_int_type(file_->sputc(traits_type::to_char_type(c)),
                                     traits_type::eof()))
            return traits_type::eof();
        if (c == '\n')
            file_->pubsync();
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::streamsize written = file_->sputn(s, n);
        if (std::memchr(s, '\n', static_cast<std::size_t>(n)))
            file_->pubsync();
        return written;
    }
    int sync() override { return file_->pubsync(); }

private:
    std::filebuf* file_;
};

// Heap objects that are never freed, so that they outlive every static destructor.
struct LogState {
    std::ostringstream* memory = new std::ostringstream;
    std::ostream* current = memory;
    const char* kind = "ostringstream";
};

LogState& state() {
    static LogState* s = new LogState;
    return *s;
}

thread_local std::ostream* threadTarget = nullptr;

} // namespace

std::ostream& logStream() {
    return threadTarget != nullptr ? *threadTarget : *state().current;
}

ThreadLogRedirect::ThreadLogRedirect(std::ostream& to) : previous_(threadTarget) {
    threadTarget = &to;
}

ThreadLogRedirect::~ThreadLogRedirect() {
    threadTarget = previous_;
}
const char* logStreamKind() {
    return state().kind;
}

std::string logMemoryText() {
    return state().memory->str();
}

void setUpLogStream(const char* target) {
    LogState& s = state();
    if (target == nullptr || std::strcmp(target, "ostringstream") == 0) {
        s.current = s.memory;
        s.kind = "ostringstream";
        return;
    }
    if (std::strcmp(target, "null") == 0) {
        static std::ostream* nullStream = new std::ostream(new StreambufNull<int>);
        s.current = nullStream;
        s.kind = "null";
        return;
    }
    if (std::strcmp(target, "stderr") != 0) {
        auto* file = new std::filebuf;
        if (file->open(target, std::ios::out | std::ios::trunc | std::ios::binary)) {
            s.current = new std::ostream(new LineFlushBuf(file));
            s.kind = "ofstream";
            return;
        }
        delete file;
    }
    s.current = &std::cerr;
    s.kind = "stderr";
}

std::ostream& logAt(const char* stem, int line) {
    std::ostream& out = logStream();
    out << stem << '(' << line << ')';
    return out;
}

__attribute__((noinline)) std::string stackTraceString(unsigned maxDepth) {
    constexpr unsigned MAX_LEVELS = 17;
    unsigned levels = maxDepth < MAX_LEVELS ? maxDepth : MAX_LEVELS;
    if (levels == 0)
        return std::string();
    // Slot 0 is inside this function; level 0 is the return address into our caller.
    void* frames[MAX_LEVELS + 1];
    int n = backtrace(frames, static_cast<int>(levels + 1));
    std::ostringstream out;
    for (int i = 1; i < n; ++i) {
        if (i > 1)
            out << ' ';
        out << frames[i];
    }
    return out.str();
}
