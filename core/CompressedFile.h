#pragma once

// The container of saved scans and saved debug logs: the length twice, the zlib
// stream at level 9, and a reversible byte chain over the whole file.

#include "core/Types.h"

#include <memory>
#include <string>
#include <vector>

struct Transfer;

// False with errno telling why when the file cannot be written.
bool saveCompressedFile(const char* path, const u8* data, u64 n);
// The whole content; false (and `out` unchanged) when the file cannot be read
// or is damaged anywhere.
bool loadCompressedFile(const char* path, std::string& out);

void xorChainForward(u8* bytes, std::size_t length);
void xorChainBackward(u8* bytes, std::size_t length);

// Reads the content of a compressed file piece by piece, so that a reader that
// parses it never holds more of it than it asks for: neither the file nor what
// its header claims is ever held whole, and a stream that inflates to gigabytes
// is stopped by its reader's own checks, not by the memory it would take.
class CompressedFile {
public:
    CompressedFile();
    ~CompressedFile();
    CompressedFile(const CompressedFile&) = delete;
    CompressedFile& operator=(const CompressedFile&) = delete;

    // Opens the file and checks its header, reading the file once through in
    // blocks: false when it cannot be read, is no regular file, is shorter than
    // the header or longer than any content could make it, its two length words
    // differ, the length they give does not fit the stream behind them, or the
    // stream does not start as a zlib stream. Only a file whose first bytes
    // pass all of these is read on.
    bool open(const char* path);

    // The file's size on disk and the content length its header claims (the
    // content may end sooner; it may not go on longer).
    u64 fileSize() const { return size_; }
    u32 claimedLength() const { return claimed_; }
    // Why the file could not be read (errno: it is missing, a folder, not
    // readable, its medium failed), or 0 when it was read and holds no content
    // of this format.
    int error() const { return error_; }

    // Up to `max` more bytes of the content into `out`; the count, 0 once the
    // content has ended, -1 when the stream is damaged, runs past the claimed
    // length or the file can no longer be read (then for good).
    i64 read(u8* out, u32 max);
    // Whether all the content has been read and the stream ended soundly there
    // (its checksum included); reads on to see, so a stream that still holds
    // content is not at its end.
    bool atEnd();

    // The longest file that saveCompressedFile can write: the header and the
    // stream of the longest content the length field holds.
    static u64 maxFileSize();

private:
    struct Inflater;
    // Reads and unchains the next block of the file into the inflater's input;
    // false when the file cannot be read.
    bool nextBlock();
    // Whether the read moved all it was asked for; a system error is kept.
    bool transferred(const Transfer& t);

    int fd_ = -1;
    u64 size_ = 0;
    // The next byte of the file to unchain, and what unchaining it starts from.
    u64 offset_ = 0;
    u8 chain_ = 0;
    std::vector<u8> block_;
    u32 claimed_ = 0;
    u64 produced_ = 0;
    bool ended_ = false;
    bool failed_ = false;
    int error_ = 0;
    std::unique_ptr<Inflater> inflater_;
};
