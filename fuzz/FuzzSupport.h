#pragma once

// What the tree fuzz targets share: a failed expectation is a crash that the
// fuzzer keeps, and a recoverer that holds every map to the size it announced.

#include "tree/Recoverer.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace fuzzsupport {

inline void require(bool condition) {
    if (!condition)
        std::abort();
}

// Counts what each file brings and checks it against the size it announced.
class SizeCheckingRecoverer : public tree::Recoverer {
public:
    void beginFile(const tree::FileEntry& entry, const std::vector<std::string>&) override {
        expected_ = entry.getSize();
        written_ = 0;
    }
    void write(const void*, u32 size) override {
        written_ += size;
        require(written_ <= expected_);
    }
    void endFile() override { require(written_ == expected_); }

private:
    u64 expected_ = 0;
    u64 written_ = 0;
};

} // namespace fuzzsupport
