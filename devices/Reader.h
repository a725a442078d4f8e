#pragma once

// Reads a long run of sectors for the scans: block by block into a listener's
// buffer, with progress, and with the read-error question when a block fails.
// Unreadable sectors are delivered filled with the "(unreadable)" pattern, so the
// scan goes on over the damage and recognises those sectors afterwards.

#include "core/Progress.h"
#include "core/Types.h"

#include <string>

class Driver;
class FrTreeInterface;

class Reader : public UsesInterfaceCallback {
public:
    // The receiver of the sectors, implemented by the scanner.
    class Listener {
    public:
        virtual ~Listener() = default;
        // Where the next sectors go; room for at least blockSize sectors.
        virtual u8* getBuffer() = 0;
        // `count` sectors from `firstLba` were placed at the last getBuffer().
        virtual void onSectorsRead(u64 firstLba, u64 count) = 0;

        // A listener that can take a block where it was read, with room of its
        // own before it, lets the reader read the next blocks on a second thread
        // while it takes one (Reader::setReadAhead): the bytes of room it needs
        // there, NOT_IN_PLACE (the default) when it cannot.
        static constexpr u64 NOT_IN_PLACE = ~u64(0);
        virtual u64 getRoomBefore() const { return NOT_IN_PLACE; }
        // `count` sectors from `firstLba` lie at `sectors`, with getRoomBefore()
        // bytes before them for the listener's use; they are done with when this
        // returns.
        virtual void onSectorsReadAt(u64 firstLba, u64 count, u8* sectors);

        u64 getBlockSize() const { return blockSize_; }
        void setBlockSize(u64 sectors) { blockSize_ = sectors; }

    private:
        u64 blockSize_ = 256;
    };

    Reader(Driver* driver, Listener* listener, FrTreeInterface* interface,
           const std::string& advice);
    ~Reader() override = default;

    // Reads [first, first + count). Throws InterruptedException on a cancel or when
    // the user answers No to the read-error question.
    void readSectors(u64 first, u64 count);
    // One block; a failure is retried or given up as the read-error mode says.
    void readBlock(u64 lba, u64 count);
    // Reads up to `blocks` blocks ahead on a second thread (ReadAhead) for a
    // listener that takes blocks in place; below 2 (the default), every block
    // is read when it is due. Everything else happens as it would without: the
    // same requests, positions, polls, questions and deliveries, in the same
    // order; only the reads of healthy blocks come earlier. Whoever sets it
    // keeps every other read of the driver's chain from running at the same
    // time (the chain takes one read at a time).
    void setReadAhead(u32 blocks) { readAhead_ = blocks; }
    // Shows the error line and, unless Yes To All was chosen, asks whether to go
    // on; anything but Yes throws InterruptedException.
    void askContinueAfterReadError(u64 lba, u64 count);

    bool isYesToAll() const { return yesToAll_; }

private:
    // Sets the position and polls, then reads into the listener's buffer.
    bool readInto(u64 lba, u64 count, u8*& buffer);
    // The error question for a run that could not be read, then the pattern in
    // its place.
    void giveUp(u64 lba, u64 count, u8* buffer);
    // A block whose read failed: retried sector by sector, or given up as a
    // whole, as the read-error mode says.
    void recoverBlock(u64 lba, u64 count);
    // readSectors with the blocks read ahead.
    void readSectorsAhead(u64 first, u64 count, u64 blockSize);

    Driver* driver_;
    Listener* listener_;
    FrTreeInterface* interface_;
    bool yesToAll_ = false;
    std::string advice_;
    u32 readAhead_ = 0;
};
