// The whole carving chain as a user runs it: a deep scan of an image through
// the test probe, the tree of found files from "cbr.directories", and the
// recovery of that tree into a folder.

#include "tests/cbr/CarvingCorpus.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

namespace {

// Every file recovered from the image's found files, by its path in the
// destination ("Pictures/JPEG/7.jpeg").
std::map<std::string, std::string> scanAndRecover(const std::string& image) {
    testutil::TempDir dir;
    testutil::writeAll(dir.file("image"), image);
    const testutil::ProbeResult r = testutil::runProbe(
        "scan " + testutil::fileDescriptor(dir.file("image")) + " 0 " +
        std::to_string(image.size() / 512) + " --recover " + testutil::shellQuote(dir.file("out")));
    EXPECT_EQ(r.status, 0) << r.err;
    std::string list;
    testutil::run("cd " + testutil::shellQuote(dir.file("out")) + " && find . -type f", &list);
    std::map<std::string, std::string> files;
    std::istringstream lines(list);
    for (std::string path; std::getline(lines, path);)
        files[path.substr(2)] = testutil::readAll(dir.file("out/" + path.substr(2)));
    return files;
}

// Each sample comes back byte for byte under the name the carver gives it, in a
// type folder (not "Other"), and nothing else comes back.
void expectRecovered(const std::vector<corpus::Sample>& samples) {
    std::vector<u64> starts;
    const std::string image = corpus::layOut(samples, starts);
    const std::map<std::string, std::string> files = scanAndRecover(image);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const corpus::Sample& s = samples[i];
        const std::string name =
            (s.name.empty() ? std::to_string(starts[i] / 512) : s.name) + "." + s.type;
        auto it = files.begin();
        while (it != files.end() && it->first.substr(it->first.rfind('/') + 1) != name)
            ++it;
        if (it == files.end()) {
            ADD_FAILURE() << s.label << ": no " << name;
            continue;
        }
        EXPECT_NE(it->first.substr(0, 6), "Other/") << s.label;
        EXPECT_TRUE(it->second == s.bytes) << s.label << ": " << it->first << " has "
                                           << it->second.size() << " bytes, not " << s.bytes.size();
    }
    EXPECT_EQ(files.size(), samples.size());
    if (files.size() != samples.size())
        for (const auto& f : files)
            ADD_FAILURE() << "recovered: " << f.first << " (" << f.second.size() << " bytes)";
}

TEST(WholeChainTest, PicturesAtSectorStartsAmongNoiseComeBackWhole) {
    expectRecovered(corpus::pictures());
}

TEST(WholeChainTest, FilesOfEveryKindComeBackWholeWithTheirTypesAndNames) {
    expectRecovered(corpus::everyKind());
}

} // namespace
