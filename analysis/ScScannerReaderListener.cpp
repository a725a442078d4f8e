#include "analysis/ScScannerReaderListener.h"

#include "core/Log.h"

#include <stdexcept>
#include <string>

ScScannerReaderListener::ScScannerReaderListener(SectorsCollector* scanner) : scanner_(scanner) {
    if (scanner == nullptr)
        throw std::runtime_error("ScScannerReaderListener(10)");
    setBlockSize(scanner->getWindowSectors());
}

void ScScannerReaderListener::onSectorsRead(u64 firstLba, u64 count) {
    // The reader fills at most one block of the window; more would already have
    // run past the buffer.
    if (count > scanner_->getWindowSectors()) {
        logAt("ScScannerReaderListener", 18) << ": " << firstLba << ' ' << count << '\n';
        throw std::runtime_error("ScScannerReaderListener(19)");
    }
    scanner_->addSectors(firstLba, static_cast<u32>(count));
    delivered_ += count;
}
