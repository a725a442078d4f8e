#include "fs/fat/DirEntryCursor.h"

#include "fs/DirectoryEntry.h"

#include <stdexcept>

DirEntryCursor::DirEntryCursor(u64 count) : count_(count) {
    if (count_ == 0)
        throw std::runtime_error("FATDrive(48)");
}

void DirEntryCursor::set(const u8* current, const u8* previous) {
    current_ = current;
    previous_ = previous;
    index_ = 0;
    inPrevious_ = false;
}

const u8* DirEntryCursor::entry(u64 i) const {
    if (i >= count_ || current_ == nullptr)
        throw std::runtime_error("FATDrive(64)");
    return current_ + i * DIR_ENTRY_BYTES;
}

void DirEntryCursor::seek(u64 i) {
    if (i >= count_ || current_ == nullptr)
        throw std::runtime_error("FATDrive(70)");
    index_ = i;
    inPrevious_ = false;
}

const u8* DirEntryCursor::previous() {
    if (current_ == nullptr)
        throw std::runtime_error("FATDrive(77)");
    if (index_ == 0) {
        if (inPrevious_ || previous_ == nullptr)
            return nullptr;
        inPrevious_ = true;
        index_ = count_ - 1;
        return previous_ + index_ * DIR_ENTRY_BYTES;
    }
    --index_;
    return (inPrevious_ ? previous_ : current_) + index_ * DIR_ENTRY_BYTES;
}
