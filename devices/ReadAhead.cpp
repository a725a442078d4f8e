#include "devices/ReadAhead.h"

#include "core/Checked.h"
#include "core/Log.h"
#include "devices/Driver.h"

#include <algorithm>
#include <chrono>
#include <sstream>
#include <stdexcept>

ReadAhead::ReadAhead(Driver& driver, u64 first, u64 count, u64 blockSectors, u32 depth,
                     u64 roomBefore)
    : driver_(driver), first_(first), count_(count), blockSectors_(blockSectors),
      blocks_(ceilDiv(count, blockSectors)), depth_(depth), roomBefore_(roomBefore) {
    u64 blockBytes = 0, all = 0;
    if (depth < 2 || blockSectors == 0 || driver.getSectorSize() == 0 ||
        !checkedMul(blockSectors, driver.getSectorSize(), blockBytes) ||
        !checkedAdd(blockBytes, roomBefore, slotBytes_) || !checkedMul(slotBytes_, depth, all))
        throw std::runtime_error("ReadAhead(24)");
    buffers_.resize(all);
    done_.resize(depth);
    thread_ = std::thread(&ReadAhead::run, this);
}

ReadAhead::~ReadAhead() {
    stop_ = true;
    {
        std::lock_guard<std::mutex> hold(lock_);
        wake_.notify_all();
    }
    thread_.join();
}

void ReadAhead::run() {
    std::ostringstream lines;
    const ThreadLogRedirect keepLines(lines);
    for (u64 b = 0; b < blocks_ && !stop_; ++b) {
        // A buffer is free again once the main thread gave back the block that
        // was read into it before.
        if (b - given_ >= depth_) {
            std::unique_lock<std::mutex> hold(lock_);
            readerSleeps_ = true;
            wake_.wait(hold, [&] { return stop_ || b - given_ < depth_; });
            readerSleeps_ = false;
            if (stop_)
                break;
        }
        Block block;
        block.lba = first_ + b * blockSectors_;
        block.count = std::min(blockSectors_, count_ - b * blockSectors_);
        block.sectors = buffer(b);
        try {
            block.read = driver_.readSectors(block.lba, block.count, block.sectors);
        } catch (...) {
            block.error = std::current_exception();
        }
        block.log = lines.str();
        lines.str(std::string());
        const bool last = !block.read || block.error || b + 1 == blocks_;
        done_[b % depth_] = std::move(block);
        read_ = b + 1;
        finished_ = last;
        if (mainSleeps_ && (read_ >= wakeAt_ || last)) {
            std::lock_guard<std::mutex> hold(lock_);
            wake_.notify_all();
        }
        if (last)
            return;
    }
}

void ReadAhead::awaitBlock() {
    // The thread stops only at the block that ends its reading or after the
    // main thread's last call: block taken_ comes.
    const auto ready = [&] { return read_ > taken_; };
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(SPIN_US);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > until) {
            std::unique_lock<std::mutex> hold(lock_);
            mainSleeps_ = true;
            wakeAt_ = taken_ + std::min<u64>(depth_ / 2, blocks_ - taken_);
            if (!wake_.wait_for(hold, std::chrono::milliseconds(GATHER_MS),
                                [&] { return read_ >= wakeAt_ || finished_; })) {
                wakeAt_ = taken_ + 1;
                wake_.wait(hold, ready);
            }
            mainSleeps_ = false;
            return;
        }
        std::this_thread::yield();
    }
}

const ReadAhead::Block& ReadAhead::next() {
    if (failed_ || taken_ == blocks_)
        throw std::runtime_error("ReadAhead(78)");
    if (taken_ > given_) {
        given_ = taken_;
        // Woken only once half the buffers are free, the thread reads several
        // blocks a wake instead of one.
        if (readerSleeps_ && read_ - taken_ <= depth_ / 2) {
            std::lock_guard<std::mutex> hold(lock_);
            wake_.notify_all();
        }
    }
    if (read_ == taken_)
        awaitBlock();
    const Block& block = done_[taken_ % depth_];
    ++taken_;
    failed_ = !block.read;
    if (block.error)
        std::rethrow_exception(block.error);
    return block;
}
