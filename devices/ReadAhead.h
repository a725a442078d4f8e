#pragma once

// Reads the blocks of a sector range on a thread of its own, a few blocks ahead
// of the one that the main thread hands on, so that the system's copying of
// the next blocks runs while this one is scanned. Only the reading runs there:
// the blocks are taken in order on the main thread, which alone polls, asks,
// retries, hands on and logs (the lines that a read wrote come with its
// block). The reading stops at the first block that fails: what the user
// answers for it decides whether anything beyond it is read.
//
// Nothing else may read the driver's chain while the thread runs, unless the
// chain takes one read at a time.

#include "core/Types.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Driver;

class ReadAhead {
public:
    struct Block {
        u64 lba = 0;
        u64 count = 0;
        // Where it was read, with the room asked for before it.
        u8* sectors = nullptr;
        // False when the driver could not read it (the last block then).
        bool read = false;
        // The lines that the read wrote to the log.
        std::string log;
        // What the read threw, thrown again by next().
        std::exception_ptr error;
    };

    // Reads [first, first + count) in blocks of blockSectors (the last one
    // shorter) into `depth` buffers, each with roomBefore bytes free before the
    // block. Throws std::runtime_error when depth is below 2 or a block size is
    // 0.
    ReadAhead(Driver& driver, u64 first, u64 count, u64 blockSectors, u32 depth, u64 roomBefore);
    // Stops the reading and waits for the read under way.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next block once it was read, or an attempt failed; the block taken
    // before goes back to the reading. An exception thrown by the read is
    // thrown here. Past the last block, or after a failed one, throws
    // std::runtime_error.
    const Block& next();

    // A cached source gives a block every few tens of microseconds, and waking
    // a sleeping thread can take longer than that: the main thread first spins
    // this long for its next block (yielding to whatever else wants to run).
    static constexpr int SPIN_US = 100;
    // Then it sleeps until half the buffers are full, one wake for several
    // blocks of a slow source, but not much longer than this without its next
    // block, so that the progress box is still polled.
    static constexpr int GATHER_MS = 20;

private:
    void run();
    u8* buffer(u64 block) { return &buffers_[(block % depth_) * slotBytes_ + roomBefore_]; }
    // The main thread's wait for block taken_.
    void awaitBlock();

    Driver& driver_;
    const u64 first_;
    const u64 count_;
    const u64 blockSectors_;
    const u64 blocks_;
    const u32 depth_;
    const u64 roomBefore_;
    u64 slotBytes_ = 0;
    std::vector<u8> buffers_;
    // By slot; a block is written by the thread before read_ counts it, and
    // read by the main thread after it saw the count.
    std::vector<Block> done_;

    // Blocks read by the thread, and given back by the main thread.
    std::atomic<u64> read_{0};
    std::atomic<u64> given_{0};
    // Set after read_ counts the last block the thread reads.
    std::atomic<bool> finished_{false};
    std::atomic<bool> stop_{false};
    // Who sleeps on wake_; the other side takes lock_ and notifies then only:
    // the thread once it has read block wakeAt_ - 1, or its last one.
    std::atomic<bool> mainSleeps_{false};
    std::atomic<u64> wakeAt_{0};
    std::atomic<bool> readerSleeps_{false};
    std::mutex lock_;
    std::condition_variable wake_;
    // The main thread's own: blocks taken, and whether the last one failed.
    u64 taken_ = 0;
    bool failed_ = false;
    std::thread thread_;
};
