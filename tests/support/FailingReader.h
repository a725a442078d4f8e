#pragma once

// A reader that plays a disk with bad sectors: it reads through another reader,
// but any read that touches one of the listed 512-byte sectors fails, as a real
// device fails a request that covers a bad sector.

#include "core/Ownership.h"
#include "devices/Driver.h"
#include "devices/DtReader.h"

#include <set>
#include <string>
#include <vector>

namespace testutil {

// A source held in memory, for tests that need no file.
class MemoryReader : public dt::Reader {
public:
    explicit MemoryReader(std::string bytes);
    bool read(i64 offset, u8* buffer, i64 size) override;
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// A Driver of 512-byte sectors over bytes in memory.
SharedPtr<Driver> openMemoryDriver(const std::string& bytes);
// A Driver of `sectors` sectors of 512 bytes that nothing reads from.
Driver sizedDriver(u64 sectors);

// `sectors` sectors of 512 bytes, each filled with its own LBA as a little-endian
// u32 repeated, so that a sector read from the wrong place shows at once.
std::string numberedSectors(u64 sectors);
// `n` bytes of a pseudo-random stream, so that bytes read from a wrong offset,
// or from the file of another seed, show; a shorter string is a prefix.
std::string pattern(std::size_t n, int seed = 0);

class FailingReader : public dt::Reader {
public:
    static constexpr u64 SECTOR_SIZE = 512;

    FailingReader(const SharedPtr<dt::Reader>& inner, const std::vector<u64>& badSectors);

    bool read(i64 offset, u8* buffer, i64 size) override;

    void addBadSector(u64 lba) { bad_.insert(lba); }
    // Every read asked of this reader, failed or not, in order.
    struct Request {
        i64 offset;
        i64 size;
        bool ok;
    };
    const std::vector<Request>& requests() const { return requests_; }

private:
    // Whether [offset, offset + size) covers a bad sector.
    bool touchesBadSector(i64 offset, i64 size) const;

    SharedPtr<dt::Reader> inner_;
    std::set<u64> bad_;
    std::vector<Request> requests_;
};

} // namespace testutil
