#pragma once

// An image file (a disk image saved earlier, or any file the user picks) as a
// reader. Opened read-only; nothing is ever written to it.

#include "devices/DtReader.h"

namespace dt {

class ReaderFile : public Reader {
public:
    ReaderFile() = default;
    ~ReaderFile() override;
    ReaderFile(const ReaderFile&) = delete;
    ReaderFile& operator=(const ReaderFile&) = delete;

    // Opens the file (GLib file-name encoding) and takes its size. On failure
    // a file opened before stays open.
    bool open(const char* path);

    // Fails, with nothing zero-filled, when the file ends before offset + n.
    bool read(i64 offset, u8* buffer, i64 n) override;

private:
    int fd_ = -1;
};

} // namespace dt
