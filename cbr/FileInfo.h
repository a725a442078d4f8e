#pragma once

// One file found by content carving: where it starts on the source, how long
// it is, and what its contents told about it (type, title, time, raw preview).

#include "core/Attributes.h"
#include "core/Types.h"

#include <string>

namespace cbr {

class FileInfo {
public:
    static constexpr u64 UNSET = ~u64(0);

    FileInfo() { clear(); }

    void clear() {
        attributes_.clear();
        start_ = UNSET;
        size_ = UNSET;
    }

    u64 getStart() const { return start_; }
    void setStart(u64 start) { start_ = start; }
    u64 getSize() const { return size_; }
    void setSize(u64 size) { size_ = size; }

    void setType(const std::string& type) { attributes_.set("t", type); }
    std::string getType() const { return attributes_.get("t", ""); }

    Attributes& getAttributes() { return attributes_; }
    const Attributes& getAttributes() const { return attributes_; }

private:
    Attributes attributes_;
    u64 start_;
    u64 size_;
};

} // namespace cbr
