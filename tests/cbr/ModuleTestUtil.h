#pragma once

// What the tests of the carving modules share: a module run on a window held
// in memory, and files made by real tools in a temporary folder.

#include "cbr/FileInfo.h"
#include "cbr/FileModule.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace moduletest {

struct Analysis {
    bool ok = false;
    cbr::FileInfo info;
    u64 size() const { return info.getSize(); }
    std::string type() const { return info.getType(); }
    std::string name() const { return info.getAttributes().get("name", ""); }
};

// analyze() with `window` as the whole window; the record starts with a stale
// attribute so that a module that forgets to clear it shows.
inline Analysis analyze(cbr::FileModule& module, const std::string& window) {
    testutil::MemoryReader reader(window);
    Analysis a;
    a.info.getAttributes().set("stale", "x");
    a.ok = module.analyze(reader, a.info);
    if (a.ok) {
        EXPECT_EQ(a.info.getAttributes().get("stale", ""), "") << "the record was not cleared";
    }
    return a;
}

// check() on an exact copy, so that a read past the end meets the sanitizer.
inline bool check(cbr::FileModule& module, const std::string& bytes) {
    std::vector<u8> copy(bytes.begin(), bytes.end());
    return module.check(copy.data(), static_cast<u32>(copy.size()));
}

// Runs `command` in dir (a failure fails the test) and returns the bytes of the
// file `output` that it made there.
inline std::string make(const testutil::TempDir& dir, const std::string& command,
                        const std::string& output) {
    std::string out, err;
    const int status =
        testutil::run("cd " + testutil::shellQuote(dir.path()) + " && " + command, &out, &err);
    EXPECT_EQ(status, 0) << command << "\n" << err;
    return testutil::readAll(dir.file(output));
}

// Bytes that none of the modules take for a continuation of a file.
inline std::string garbage(std::size_t n) {
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(0x11 + (i * 7) % 0x50);
    return bytes;
}

// A whole file with other bytes behind it: check() takes its first 64 KiB
// and analyze() finds exactly the file, of `type`.
inline void expectFound(cbr::FileModule& module, const std::string& file, const std::string& type,
                        std::size_t after = 1000) {
    EXPECT_TRUE(check(module, file.substr(0, 65536)));
    const Analysis found = analyze(module, file + garbage(after));
    ASSERT_TRUE(found.ok);
    EXPECT_EQ(found.size(), file.size());
    EXPECT_EQ(found.type(), type);
}

} // namespace moduletest
