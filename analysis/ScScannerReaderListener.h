#pragma once

// Connects the sector reader to a scanner: blocks are read straight into the
// scanner's buffer, or read ahead into the reader's and scanned where they lie,
// and handed to it as they arrive.

#include "analysis/SectorsCollector.h"
#include "core/Types.h"
#include "devices/Reader.h"

class ScScannerReaderListener : public Reader::Listener {
public:
    // Not owned. The block size becomes the scanner's window, which is all the
    // room its buffer has.
    explicit ScScannerReaderListener(SectorsCollector* scanner);

    u8* getBuffer() override { return scanner_->bufferEnd(); }
    void onSectorsRead(u64 firstLba, u64 count) override;
    // Room for the sectors that wait as the scanner's look-ahead.
    u64 getRoomBefore() const override;
    void onSectorsReadAt(u64 firstLba, u64 count, u8* sectors) override;

    // The sectors handed to the scanner so far.
    u64 getDelivered() const { return delivered_; }

private:
    // The reader fills at most one block of the window; more would already
    // have run past the buffer.
    u32 checkedCount(u64 firstLba, u64 count) const;

    SectorsCollector* scanner_;
    u64 delivered_ = 0;
};
