#include "tests/support/RecordingProgress.h"

namespace testutil {

std::string RecordingProgress::Record::lastText(u64 kind) const {
    for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
        if (it->kind == kind)
            return it->text;
    }
    return std::string();
}

u64 RecordingProgress::Record::position() const {
    u64 pos = 0;
    for (const Position& p : positions) {
        if (p.mode == InterfaceCallback::POSITION_SET)
            pos = p.value;
        else if (p.mode == InterfaceCallback::POSITION_ADD)
            pos += p.value;
    }
    return pos;
}

u64 RecordingProgress::Record::lastValue(u64 mode) const {
    for (auto it = positions.rbegin(); it != positions.rend(); ++it) {
        if (it->mode == mode)
            return it->value;
    }
    return 0;
}

void RecordingProgress::poll() {
    Record& r = *record_;
    ++r.polls;
    if (r.cancelAtPoll != 0 && r.polls >= r.cancelAtPoll) {
        r.cancelled = true;
        throw InterruptedException();
    }
}

void RecordingProgress::setText(u64 kind, const std::string& text) {
    record_->texts.push_back({kind, text});
}

void RecordingProgress::setPosition(u64 mode, u64 value) {
    record_->positions.push_back({mode, value});
}

} // namespace testutil
