#include "cbr/ClosingTags.h"

#include "cbr/FileModuleText.h"
#include "tests/cbr/ModuleRun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr u64 SECTOR = 512;

// Text in which every sector starts a page, whose closing tag comes later or
// never, and the windows the hits get.
struct Pages {
    const char* name;
    std::string text;
    u64 window;
};

// `sectors` sectors, each opening an XML document with a root tag from a cycle
// of `tags` names (or a name of its own with 0), closed `closeAfter` sectors
// on in another case (never with 0), the rest blanks.
Pages pages(const char* name, u64 sectors, u64 tags, u64 closeAfter, u64 window) {
    Pages p{name, std::string(sectors * SECTOR, ' '), window};
    auto root = [&](u64 s) { return "root" + std::to_string(tags == 0 ? s : s % tags); };
    for (u64 s = 0; s < sectors; ++s) {
        const std::string open = "<?xml version=\"1.0\"?>\n<" + root(s) + " a=\"1\">";
        p.text.replace(s * SECTOR, open.size(), open);
        if (closeAfter != 0 && s + closeAfter < sectors) {
            std::string close = "</ROOT" + root(s).substr(4) + ">";
            // Across a sector edge, and so across the reads of some searches.
            p.text.replace((s + closeAfter) * SECTOR - close.size() / 2, close.size(), close);
        }
    }
    return p;
}

// Every sector a hit, in order, through one scan memory and each afresh: the
// same pages come out, and the text is read a bounded number of times, however
// many root tags the pages cycle through.
TEST(ClosingTagsTest, ScanFindsWhatAnAnalysisAfreshFindsAndReadsTheTextOnce) {
    std::vector<Pages> shapes = {
        pages("17 root tags, never closed", 512, 17, 0, ~u64(0)),
        pages("a root tag for every page, never closed", 512, 0, 0, ~u64(0)),
        pages("a root tag for every page, closed later", 512, 0, 3, ~u64(0)),
        pages("17 root tags, closed later, short windows", 512, 17, 9, 6000),
    };
    Pages broken = pages("text that breaks off", 512, 5, 0, ~u64(0));
    broken.text[300 * SECTOR + 100] = '\0';
    shapes.push_back(broken);
    cbr::FileModuleText module;
    for (const Pages& shape : shapes) {
        SCOPED_TRACE(shape.name);
        std::unique_ptr<cbr::ScanMemory> memory = module.newScanMemory();
        u64 read = 0;
        for (u64 at = 0; at < shape.text.size(); at += SECTOR) {
            const std::string rest = shape.text.substr(at, shape.window);
            moduletest::StrictWindow window(rest);
            moduletest::StrictWindow again(rest);
            cbr::FileInfo remembered, afresh;
            const bool found = module.analyzeInScan(window, remembered, at, memory.get());
            ASSERT_EQ(found, module.analyze(again, afresh)) << "hit at " << at;
            if (found) {
                ASSERT_EQ(remembered.getSize(), afresh.getSize()) << "hit at " << at;
            }
            read += window.bytesRead;
        }
        EXPECT_LE(read, 4 * shape.text.size());
    }
}

} // namespace
