#include "analysis/ScScannerReaderListener.h"

#include "core/Log.h"

#include <stdexcept>
#include <string>

ScScannerReaderListener::ScScannerReaderListener(SectorsCollector* scanner) : scanner_(scanner) {
    if (scanner == nullptr)
        throw std::runtime_error("ScScannerReaderListener(10)");
    setBlockSize(scanner->getWindowSectors());
}

u32 ScScannerReaderListener::checkedCount(u64 firstLba, u64 count) const {
    if (count > scanner_->getWindowSectors()) {
        logAt("ScScannerReaderListener", 18) << ": " << firstLba << ' ' << count << '\n';
        throw std::runtime_error("ScScannerReaderListener(19)");
    }
    return static_cast<u32>(count);
}

void ScScannerReaderListener::onSectorsRead(u64 firstLba, u64 count) {
    scanner_->addSectors(firstLba, checkedCount(firstLba, count));
    delivered_ += count;
}

u64 ScScannerReaderListener::getRoomBefore() const {
    return static_cast<u64>(scanner_->getLookAheadSectors()) * scanner_->getSectorSize();
}

void ScScannerReaderListener::onSectorsReadAt(u64 firstLba, u64 count, u8* sectors) {
    scanner_->addSectorsAt(firstLba, sectors, checkedCount(firstLba, count));
    delivered_ += count;
}
