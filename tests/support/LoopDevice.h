#pragma once

// A loop device over an image file for the tests that want a real block device.
// Needs root and a working losetup; `path()` is empty when either is missing,
// and the test skips.

#include "tests/support/TestUtil.h"

#include <string>

namespace testutil {

class LoopDevice {
public:
    // With `scanPartitions` the kernel reads the image's partition table and
    // makes a node for each partition.
    explicit LoopDevice(const std::string& image, bool scanPartitions = false) {
        std::string out;
        if (run(std::string("losetup -f --show ") + (scanPartitions ? "-P " : "") +
                    shellQuote(image) + " 2>/dev/null",
                &out) == 0) {
            while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
                out.pop_back();
            path_ = out;
        }
    }
    ~LoopDevice() {
        if (!path_.empty())
            run("losetup -d " + shellQuote(path_));
    }
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace testutil
