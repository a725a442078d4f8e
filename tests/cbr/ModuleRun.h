#pragma once

// A carving module run on a window held in memory, with the promises its fuzz
// target checks (fuzz/ModuleFuzz.h): no read outside the window, check() on
// exactly the bytes given, an accepted file inside the window with a type, and
// a record cleared of what the caller left in it.

#include "cbr/FileInfo.h"
#include "cbr/FileModule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace moduletest {

class StrictWindow : public dt::Reader {
public:
    explicit StrictWindow(const std::string& bytes) : bytes_(bytes) {
        setSize(static_cast<i64>(bytes.size()));
    }
    bool read(i64 offset, u8* buffer, i64 n) override {
        if (!dt::rangeInside(offset, n, getSize())) {
            ADD_FAILURE() << "read of " << n << " bytes at " << offset << " outside a window of "
                          << getSize();
            return false;
        }
        std::memcpy(buffer, bytes_.data() + offset, static_cast<std::size_t>(n));
        bytesRead += static_cast<u64>(n);
        return true;
    }
    u64 bytesRead = 0;

private:
    const std::string& bytes_;
};

struct Run {
    bool ok = false;
    cbr::FileInfo info;
    u64 bytesRead = 0;
    u64 size() const { return ok ? info.getSize() : ~u64(0); }
    std::string name() const { return info.getAttributes().get("name", ""); }
};

// What a run asks of the module: an analysis of the window, or whether the
// file at its start is whole within it (FileModule::wholeWithin).
enum class Ask { ANALYSIS, WHOLE_WITHIN };

inline Run run(cbr::FileModule& module, const std::string& window, Ask ask = Ask::ANALYSIS) {
    std::vector<u8> copy(window.begin(), window.end());
    module.check(copy.data(), static_cast<u32>(copy.size()));
    StrictWindow reader(window);
    Run r;
    r.info.getAttributes().set("stale", "x");
    r.ok =
        ask == Ask::ANALYSIS ? module.analyze(reader, r.info) : module.wholeWithin(reader, r.info);
    r.bytesRead = reader.bytesRead;
    if (r.ok) {
        EXPECT_LE(r.info.getSize(), window.size());
        EXPECT_FALSE(r.info.getType().empty());
        EXPECT_EQ(r.info.getStart(), cbr::FileInfo::UNSET);
        EXPECT_EQ(r.info.getAttributes().get("stale", ""), "") << "the record was not cleared";
    }
    return r;
}

} // namespace moduletest
