#include "devices/Reader.h"

#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/Preferences.h"
#include "core/Text.h"
#include "core/UserInterface.h"
#include "devices/Driver.h"
#include "devices/ReadAhead.h"
#include "devices/UnreadableSectors.h"

#include <algorithm>
#include <stdexcept>

namespace {

// Values of the "Read Error Processing Mode" preference; anything but block mode
// retries sector by sector, the safe choice for a dying disk.
constexpr int READ_ERROR_MODE_BLOCK = 1;

} // namespace

void Reader::Listener::onSectorsReadAt(u64 firstLba, u64 count, u8* sectors) {
    (void)firstLba;
    (void)count;
    (void)sectors;
    // Only a listener that gives room before its blocks is handed blocks in place.
    throw std::runtime_error("Reader(52)");
}

Reader::Reader(Driver* driver, Listener* listener, FrTreeInterface* interface,
               const std::string& advice)
    : driver_(driver), listener_(listener), interface_(interface), advice_(advice) {}

void Reader::readSectors(u64 first, u64 count) {
    const u64 blockSize = listener_->getBlockSize();
    // A block of no sectors would never get through the range.
    if (blockSize == 0)
        throw std::runtime_error("Reader(30)");
    if (readAhead_ >= 2 && count > blockSize &&
        listener_->getRoomBefore() != Listener::NOT_IN_PLACE) {
        readSectorsAhead(first, count, blockSize);
        return;
    }
    while (count > 0) {
        const u64 n = std::min(blockSize, count);
        readBlock(first, n);
        first += n;
        count -= n;
    }
}

bool Reader::readInto(u64 lba, u64 count, u8*& buffer) {
    setPosition(InterfaceCallback::POSITION_SET, lba);
    poll();
    buffer = listener_->getBuffer();
    if (buffer == nullptr)
        throw std::runtime_error("Reader(44)");
    return driver_->readSectors(lba, count, buffer);
}

void Reader::giveUp(u64 lba, u64 count, u8* buffer) {
    askContinueAfterReadError(lba, count);
    // Each sector gets its own copy of the pattern, starting at its first byte:
    // the scanner tests sector by sector, and one fill running across a whole
    // block would start most sectors in the middle of the text, so that they
    // would pass for data.
    const u64 sectorSize = driver_->getSectorSize();
    for (u64 i = 0; i < count; ++i)
        fillUnreadablePattern(buffer + i * sectorSize, sectorSize);
}

void Reader::readBlock(u64 lba, u64 count) {
    const u64 sectorSize = driver_->getSectorSize();
    // The pattern fill below writes count * sectorSize bytes; a block whose size
    // does not even fit in 64 bits cannot be a buffer the listener holds.
    u64 bytes = 0, end = 0;
    if (!checkedMul(count, sectorSize, bytes) || !checkedAdd(lba, count, end))
        throw std::runtime_error("Reader(65)");

    u8* buffer = nullptr;
    if (readInto(lba, count, buffer)) {
        listener_->onSectorsRead(lba, count);
        return;
    }
    recoverBlock(lba, count);
}

void Reader::recoverBlock(u64 lba, u64 count) {
    u8* buffer = nullptr;
    if (Preferences::instance().readErrorMode() == READ_ERROR_MODE_BLOCK) {
        giveUp(lba, count, listener_->getBuffer());
        listener_->onSectorsRead(lba, count);
        return;
    }
    // Sector mode: the good sectors of a bad block keep their real contents and
    // only the sectors that fail on their own are asked about and filled.
    for (u64 i = 0; i < count; ++i) {
        const u64 s = lba + i;
        if (!readInto(s, 1, buffer))
            giveUp(s, 1, buffer);
        listener_->onSectorsRead(s, 1);
    }
}

void Reader::readSectorsAhead(u64 first, u64 count, u64 blockSize) {
    const u64 room = listener_->getRoomBefore();
    u64 end = 0;
    if (!checkedAdd(first, count, end))
        throw std::runtime_error("Reader(118)");
    while (count > 0) {
        // Until the end of the range or the first block that fails; after it,
        // a new thread for the rest.
        ReadAhead ahead(*driver_, first, count, blockSize, readAhead_, room);
        bool failed = false;
        while (count > 0 && !failed) {
            const u64 n = std::min(blockSize, count);
            setPosition(InterfaceCallback::POSITION_SET, first);
            poll();
            const ReadAhead::Block& block = ahead.next();
            logStream() << block.log;
            failed = !block.read;
            if (failed)
                recoverBlock(first, n);
            else
                listener_->onSectorsReadAt(first, n, block.sectors);
            first += n;
            count -= n;
        }
    }
}

void Reader::askContinueAfterReadError(u64 lba, u64 count) {
    std::string text = formatMessage(_("Read Error at LBA %1"), lba) + " (" +
                       formatMessage(ngettext_("%1 sector", "%1 sectors", count), count) + ").";
    setText(InterfaceCallback::TEXT_MAIN, text);
    poll();
    if (yesToAll_)
        return;

    text += "\n\n";
    text += _("Continuing could cause further damage to your Source.");
    if (!advice_.empty())
        text += "\n\n" + advice_;
    text += "\n\n";
    text += _("Do you want to continue?");

    // Without anyone to answer Yes, nothing agreed to go on over the damage.
    if (interface_ == nullptr)
        throw InterruptedException();
    const int answer = interface_->message(true, text.c_str(), false, _("Yes To _All"));
    if ((answer & 0x0F) != 0)
        throw InterruptedException();
    if ((answer & 0x10) != 0)
        yesToAll_ = true;
}
