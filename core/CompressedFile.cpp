#include "core/CompressedFile.h"

#include "core/Array.h"
#include "core/System.h"

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

void xorChainForward(u8* b, std::size_t length) {
    for (std::size_t i = 0; i + 1 < length; ++i)
        b[i] ^= b[i + 1];
}

void xorChainBackward(u8* b, std::size_t length) {
    for (std::size_t i = length; i-- > 1;)
        b[i - 1] ^= b[i];
}

namespace {
constexpr std::size_t HEADER = 8;
// Deflate never expands data by more than about 1032:1, so a header claiming more
// than that of the stream behind it is damaged.
constexpr u64 MAX_RATIO = 1032;
constexpr u64 RATIO_SLACK = 64;
// What loadCompressedFile inflates at a time.
constexpr u32 PIECE = 1 << 16;
// What the file is read by.
constexpr std::size_t BLOCK = 1 << 20;

// The longest stream that n bytes of content compress to: zlib's bound, or the
// room that saved scans of the earlier stream versions (and debug logs saved
// with them) were written into, n + n / 1000 + 12, whichever is larger. A
// longer stream was never written for that content.
u64 streamBound(u64 n) {
    return std::max<u64>(compressBound(static_cast<uLong>(n)), n + n / 1000 + 12);
}

// Whether a stream of `streamSize` bytes can hold `n` bytes of content.
bool lengthFits(u64 n, u64 streamSize) {
    return n <= streamSize * MAX_RATIO + RATIO_SLACK && streamSize <= streamBound(n);
}

// The zlib header (RFC 1950) behind the length words: CMF, then FLG. Method 8
// with a window of at most 32 KiB, the check bits, and no preset dictionary,
// which no writer of ours asks for and which inflate refuses.
constexpr std::size_t CMF = HEADER, FLG = HEADER + 1;
bool isZlibHeader(u8 cmf, u8 flg) {
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256u + flg) % 31 == 0 &&
           (flg & 0x20) == 0;
}

// What is read of a file before anything else: the length words, the zlib
// header and the first blocks of the stream, where inflate finds the damage of
// a file that is no stream within a few bytes.
constexpr std::size_t HEAD = 4096;

// Whether `n` bytes from a stream's start inflate as far as they go without
// an error and without more content than `claimed`.
bool startsSoundly(const u8* stream, std::size_t n, u64 claimed) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return true; // nothing to tell by: the whole file decides
    z.next_in = const_cast<u8*>(stream);
    z.avail_in = static_cast<uInt>(n);
    u8 out[1 << 14];
    u64 produced = 0;
    int rc = Z_OK;
    do {
        z.next_out = out;
        z.avail_out = sizeof out;
        rc = inflate(&z, Z_NO_FLUSH);
        produced += sizeof out - z.avail_out;
    } while (rc == Z_OK && produced <= claimed && (z.avail_in != 0 || z.avail_out == 0));
    inflateEnd(&z);
    return (rc == Z_OK || rc == Z_BUF_ERROR || rc == Z_STREAM_END) && produced <= claimed;
}

// The content length that the length words give under `key`.
u32 lengthUnder(const u8* head, u8 key) {
    u32 n = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        n |= u32(key) << (8 * i);
        key ^= head[i];
    }
    return n;
}

// Byte i of the content is the XOR of the file's bytes from i on: the XOR of
// the whole file, its key, with that of the bytes before i. The key is known
// only once the whole file is read, but each value it may take gives one head
// of the content. The keys under which the first `n` bytes of a file of `size`
// bytes can start a file that saveCompressedFile wrote: two equal length words
// that the stream's size can hold, a zlib header, and a stream that starts
// soundly. The whole file would fail each of these too; with no key left, it
// is refused without being read on.
std::bitset<256> possibleKeys(const u8* head, std::size_t n, u64 size) {
    std::bitset<256> keys;
    if (n <= FLG || size < n)
        return keys;
    // The XOR of the bytes before each of the head's.
    u8 before[HEAD];
    u8 x = 0;
    for (std::size_t i = 0; i < n; ++i) {
        before[i] = x;
        x ^= head[i];
    }
    // Both length words are unchained with the same key.
    if (std::memcmp(before, before + 4, 4) != 0)
        return keys;
    const u64 streamSize = size - HEADER;
    u8 stream[HEAD];
    for (unsigned k = 0; k < 256; ++k) {
        const u8 key = static_cast<u8>(k);
        const u32 claimed = lengthUnder(head, key);
        if (!lengthFits(claimed, streamSize) || !isZlibHeader(key ^ before[CMF], key ^ before[FLG]))
            continue;
        for (std::size_t i = HEADER; i < n; ++i)
            stream[i - HEADER] = key ^ before[i];
        keys[k] = startsSoundly(stream, n - HEADER, claimed);
    }
    return keys;
}

// The XOR of n bytes, a word at a time.
u8 xorOf(const u8* b, std::size_t n) {
    u64 words = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        u64 w;
        std::memcpy(&w, b + i, 8);
        words ^= w;
    }
    u8 x = 0;
    for (int k = 0; k < 8; ++k)
        x ^= static_cast<u8>(words >> (8 * k));
    for (; i < n; ++i)
        x ^= b[i];
    return x;
}
} // namespace

bool saveCompressedFile(const char* path, const u8* data, u64 n) {
    // The length field is 32 bits; a longer content cannot be saved, and a
    // silently truncated file would be worse than none.
    if (n > 0xFFFFFFFFu) {
        errno = EFBIG;
        return false;
    }
    uLong bound = compressBound(static_cast<uLong>(n));
    std::vector<u8> buffer;
    try {
        buffer.resize(HEADER + bound);
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return false;
    }
    uLongf compressed = bound;
    // With a buffer of the bound, only memory can run short.
    if (compress2(buffer.data() + HEADER, &compressed, data, static_cast<uLong>(n), 9) != Z_OK) {
        errno = ENOMEM;
        return false;
    }
    setLE32(buffer.data(), 0, static_cast<u32>(n));
    setLE32(buffer.data(), 4, static_cast<u32>(n));
    std::size_t total = HEADER + compressed;
    xorChainForward(buffer.data(), total);
    return writeFile(path, buffer.data(), total);
}

bool loadCompressedFile(const char* path, std::string& out) {
    CompressedFile file;
    if (!file.open(path))
        return false;
    // The content grows with what the stream really yields, never by the claim.
    std::string content;
    try {
        for (;;) {
            const std::size_t had = content.size();
            content.resize(had + PIECE);
            const i64 got = file.read(reinterpret_cast<u8*>(&content[had]), PIECE);
            if (got < 0)
                return false;
            content.resize(had + static_cast<std::size_t>(got));
            if (got == 0)
                break;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!file.atEnd())
        return false;
    out.swap(content);
    return true;
}

struct CompressedFile::Inflater {
    z_stream z{};
    bool ready = false;
    ~Inflater() {
        if (ready)
            inflateEnd(&z);
    }
};

CompressedFile::CompressedFile() : inflater_(new Inflater) {}

CompressedFile::~CompressedFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

u64 CompressedFile::maxFileSize() {
    return HEADER + streamBound(0xFFFFFFFFu);
}

// The byte chain is undone from the end (see possibleKeys). One pass gives the
// whole file's XOR, and then the file can be unchained from its start as it is
// read: neither it nor any guess of its content is ever held whole. A file
// that is no such file (a disk image picked by mistake, whatever its first
// bytes) is refused by its head before that pass, in the time of one read.
bool CompressedFile::open(const char* path) {
    if (fd_ >= 0)
        return false;
    error_ = 0;
    const int fd = openFile(path, O_RDONLY, 0);
    if (fd < 0) {
        error_ = errno;
        return false;
    }
    fd_ = fd;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        error_ = errno;
        return false;
    }
    if (S_ISDIR(st.st_mode))
        error_ = EISDIR;
    if (!S_ISREG(st.st_mode))
        return false;
    size_ = static_cast<u64>(st.st_size);
    if (size_ < HEADER || size_ > maxFileSize())
        return false;
    u8 head[HEAD];
    const std::size_t headSize = static_cast<std::size_t>(std::min<u64>(HEAD, size_));
    if (!transferred(readWhole(fd_, 0, head, headSize)))
        return false;
    const std::bitset<256> keys = possibleKeys(head, headSize, size_);
    if (keys.none())
        return false;
    (void)::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    block_.resize(BLOCK);
    u8 key = xorOf(head, headSize);
    for (u64 at = headSize; at < size_;) {
        const std::size_t n = static_cast<std::size_t>(std::min<u64>(BLOCK, size_ - at));
        if (!transferred(readWhole(fd_, at, block_.data(), n)))
            return false;
        key ^= xorOf(block_.data(), n);
        at += n;
    }
    if (!keys[key])
        return false;
    z_stream& z = inflater_->z;
    if (inflateInit(&z) != Z_OK)
        return false;
    inflater_->ready = true;
    offset_ = HEADER;
    chain_ = key ^ xorOf(head, HEADER);
    claimed_ = lengthUnder(head, key);
    return true;
}

bool CompressedFile::transferred(const Transfer& t) {
    if (t.error != 0)
        error_ = t.error;
    return t.whole();
}

bool CompressedFile::nextBlock() {
    const std::size_t n = static_cast<std::size_t>(std::min<u64>(block_.size(), size_ - offset_));
    if (!transferred(readWhole(fd_, offset_, block_.data(), n)))
        return false;
    u8 x = chain_;
    for (std::size_t i = 0; i < n; ++i) {
        const u8 b = block_[i];
        block_[i] = x;
        x ^= b;
    }
    chain_ = x;
    offset_ += n;
    z_stream& z = inflater_->z;
    z.next_in = block_.data();
    z.avail_in = static_cast<uInt>(n);
    return true;
}

i64 CompressedFile::read(u8* out, u32 max) {
    if (failed_ || !inflater_->ready)
        return -1;
    if (ended_ || max == 0)
        return 0;
    z_stream& z = inflater_->z;
    // One byte more than the claim may still hold, so that a stream that goes on
    // past it is caught here rather than cut short unnoticed.
    const u64 room = std::min<u64>(max, u64(claimed_) - produced_ + 1);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    int rc = Z_OK;
    // Block headers may use up a call without a byte of content; a stream with
    // neither input nor content left answers Z_BUF_ERROR.
    while (rc == Z_OK && z.avail_out == room) {
        if (z.avail_in == 0 && offset_ < size_ && !nextBlock()) {
            failed_ = true;
            return -1;
        }
        rc = inflate(&z, Z_NO_FLUSH);
    }
    const u64 got = room - z.avail_out;
    produced_ += got;
    if ((rc != Z_OK && rc != Z_STREAM_END) || produced_ > claimed_) {
        failed_ = true;
        return -1;
    }
    ended_ = rc == Z_STREAM_END;
    return static_cast<i64>(got);
}

bool CompressedFile::atEnd() {
    if (!ended_) {
        u8 probe;
        if (read(&probe, 1) != 0)
            return false;
    }
    return ended_ && !failed_;
}
