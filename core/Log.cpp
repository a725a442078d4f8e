#include "core/Log.h"

#include <algorithm>
#include <cstring>
#include <execinfo.h>
#include <fstream>
#include <iostream>
#include <memory>
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

// The in-memory log: the head, kept until it is full, and a ring that holds the
// tail. Both are allocated once, whole, when the log is first used; pages that
// no line has reached take no memory. Writing never allocates, so it cannot fail
// when memory runs short, which is when the log is wanted most.
class BoundedLogBuf : public std::streambuf {
public:
    BoundedLogBuf()
        : head_(new char[LOG_MEMORY_HEAD_BYTES]), ring_(new char[LOG_MEMORY_TAIL_BYTES]) {
        setp(buffer_, buffer_ + sizeof buffer_);
    }

    u64 written() {
        keepBuffered();
        return headSize_ + tailWritten_;
    }

    std::string text(u64 from) {
        keepBuffered();
        std::string out;
        if (from < headSize_)
            out.assign(head_.get() + from, headSize_ - from);
        if (tailWritten_ == 0)
            return out;
        // The ring in order; once it has gone round, its oldest line may be cut,
        // and it starts with the next whole one.
        const std::size_t kept =
            static_cast<std::size_t>(std::min<u64>(tailWritten_, LOG_MEMORY_TAIL_BYTES));
        const std::size_t at = static_cast<std::size_t>(tailWritten_ % LOG_MEMORY_TAIL_BYTES);
        std::string tail;
        tail.reserve(kept);
        if (kept == LOG_MEMORY_TAIL_BYTES)
            tail.append(ring_.get() + at, kept - at);
        tail.append(ring_.get(), at);
        u64 tailStart = headSize_ + tailWritten_ - kept;
        if (tailWritten_ > LOG_MEMORY_TAIL_BYTES) {
            const std::size_t lineEnd = tail.find('\n');
            if (lineEnd != std::string::npos) {
                tail.erase(0, lineEnd + 1);
                tailStart += lineEnd + 1;
            }
        }
        from = std::max<u64>(from, headSize_);
        if (from < tailStart)
            out += "Log(60): " + std::to_string(tailStart - from) + " bytes left out\n";
        else
            tail.erase(0, static_cast<std::size_t>(std::min<u64>(from - tailStart, tail.size())));
        return out + tail;
    }

protected:
    int_type overflow(int_type c) override {
        keepBuffered();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::size_t count = static_cast<std::size_t>(n);
        if (count <= static_cast<std::size_t>(epptr() - pptr())) {
            std::memcpy(pptr(), s, count);
            pbump(static_cast<int>(n));
        } else {
            keepBuffered();
            keep(s, count);
        }
        return n;
    }
    int sync() override {
        keepBuffered();
        return 0;
    }

private:
    void keepBuffered() {
        keep(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        setp(buffer_, buffer_ + sizeof buffer_);
    }

    void keep(const char* s, std::size_t n) {
        if (headOpen_) {
            const std::size_t into = std::min(n, LOG_MEMORY_HEAD_BYTES - headSize_);
            std::memcpy(head_.get() + headSize_, s, into);
            headSize_ += into;
            s += into;
            n -= into;
            if (n == 0)
                return;
            // The head ends with its last whole line; the rest of it starts the tail.
            headOpen_ = false;
            const void* lastEnd = memrchr(head_.get(), '\n', headSize_);
            const std::size_t cut =
                lastEnd != nullptr ? static_cast<const char*>(lastEnd) - head_.get() + 1 : 0;
            putTail(head_.get() + cut, headSize_ - cut);
            headSize_ = cut;
        }
        putTail(s, n);
    }

    void putTail(const char* s, std::size_t n) {
        if (n > LOG_MEMORY_TAIL_BYTES) {
            tailWritten_ += n - LOG_MEMORY_TAIL_BYTES;
            s += n - LOG_MEMORY_TAIL_BYTES;
            n = LOG_MEMORY_TAIL_BYTES;
        }
        while (n != 0) {
            const std::size_t at = static_cast<std::size_t>(tailWritten_ % LOG_MEMORY_TAIL_BYTES);
            const std::size_t k = std::min(n, LOG_MEMORY_TAIL_BYTES - at);
            std::memcpy(ring_.get() + at, s, k);
            tailWritten_ += k;
            s += k;
            n -= k;
        }
    }

    std::unique_ptr<char[]> head_;
    std::size_t headSize_ = 0;
    bool headOpen_ = true;
    std::unique_ptr<char[]> ring_;
    // Everything written after the head, kept in the ring or gone round it.
    u64 tailWritten_ = 0;
    char buffer_[4096];
};

// Heap objects that are never freed, so that they outlive every static destructor.
struct LogState {
    BoundedLogBuf* memoryBuf = new BoundedLogBuf;
    std::ostream* memory = new std::ostream(memoryBuf);
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

std::string logMemoryText(u64 from) {
    return state().memoryBuf->text(from);
}

u64 logMemoryWritten() {
    return state().memoryBuf->written();
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
