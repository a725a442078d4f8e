#pragma once

// Connects the sector reader to a scanner: blocks are read straight into the
// scanner's buffer and handed to it as they arrive.

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

    // The sectors handed to the scanner so far.
    u64 getDelivered() const { return delivered_; }

private:
    SectorsCollector* scanner_;
    u64 delivered_ = 0;
};
