#pragma once

// Turns the blocks a sector reader delivers into a stream of single sectors,
// each handed over with the sectors that follow it, so that a structure that
// spans sectors (an NTFS file record, the start of a carved file) can be tested
// at every sector start. The last lookAheadSectors sectors of a block wait for
// the next block; a block that does not continue them, or the end, processes
// them with only the sectors they have.
//
// Blocks are read straight into the collector's one buffer at bufferEnd(), or
// handed over where they were read with room for the waiting sectors before
// them (addSectorsAt); only the waiting tail is moved after each block.

#include "core/Ownership.h"
#include "core/Types.h"

class SectorsCollector {
public:
    // Throws std::runtime_error when the window or the sector size is 0.
    SectorsCollector(u32 windowSectors, u32 lookAheadSectors, u32 sectorSize);
    virtual ~SectorsCollector() = default;
    SectorsCollector(const SectorsCollector&) = delete;
    SectorsCollector& operator=(const SectorsCollector&) = delete;

    // Where the next block is to be read: room for windowSectors sectors. The
    // waiting sectors lie just before it.
    u8* bufferEnd() const {
        return buffer_.get() + static_cast<u64>(lookAheadSectors_) * sectorSize_;
    }
    // `count` sectors from `lba` were placed at bufferEnd(). A count above the
    // window throws std::runtime_error: it would have run past the buffer.
    void addSectors(u64 lba, u32 count);
    // `count` sectors from `lba` lie at `sectors`, with lookAheadSectors
    // sectors of room before them that the collector may write. The block is
    // done with when this returns.
    void addSectorsAt(u64 lba, u8* sectors, u32 count);
    // Processes the waiting sectors with what they have after them. They are
    // done: a block that continues them later does not process them again.
    void flush();

    u32 getWindowSectors() const { return windowSectors_; }
    u32 getLookAheadSectors() const { return lookAheadSectors_; }
    u32 getSectorSize() const { return sectorSize_; }

protected:
    // One sector and the `available` sectors from it on (itself included), all in
    // one piece of memory. LBAs are 64-bit: a scan of a large disk goes on past
    // sector 2^32, where the 32-bit scan lists stop but the carving does not.
    virtual void processSector(const u8* sector, u64 lba, u32 available) = 0;

private:
    // Processes the buffered sectors with only what they have after them.
    void processBuffered();

    u32 windowSectors_;
    u32 lookAheadSectors_;
    u32 sectorSize_;
    ScopedArray<u8> buffer_;
    u64 bufferedLba_ = 0;
    u32 bufferedCount_ = 0;
};
