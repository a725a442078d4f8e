#pragma once

// A progress box for tests: it records every text and position it is given,
// counts polls, and can play a user who presses Cancel at a chosen poll.

#include "core/Progress.h"

#include <memory>
#include <string>
#include <vector>

namespace testutil {

class RecordingProgress : public ProgressBoxIC {
public:
    struct Text {
        u64 kind;
        std::string text;
    };
    struct Position {
        u64 mode;
        u64 value;
    };
    // What the box saw; shared so that a test can read it after the worker has
    // destroyed the box.
    struct Record {
        std::vector<Text> texts;
        std::vector<Position> positions;
        u64 polls = 0;
        // The poll (counted from 1) from which every poll throws; 0 never.
        u64 cancelAtPoll = 0;
        bool cancelled = false;

        // The last text of that kind, empty when none came.
        std::string lastText(u64 kind) const;
        // The bar's position: POSITION_SET replaces it, POSITION_ADD adds to it.
        u64 position() const;
        // The last value reported with a counter mode (FOUND_...), 0 when none.
        u64 lastValue(u64 mode) const;
    };

    RecordingProgress() : record_(std::make_shared<Record>()) {}
    explicit RecordingProgress(std::shared_ptr<Record> record) : record_(std::move(record)) {}

    // Poll number n (from 1) and every later one throw InterruptedException.
    void cancelAtPoll(u64 n) { record_->cancelAtPoll = n; }
    const std::shared_ptr<Record>& record() const { return record_; }

    void poll() override;
    void setText(u64 kind, const std::string& text) override;
    void setPosition(u64 mode, u64 value) override;

private:
    std::shared_ptr<Record> record_;
};

} // namespace testutil
