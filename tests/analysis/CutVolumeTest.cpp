// The whole road over the filled 128 MiB FAT32 volume (tests/support/FatCorpus.h)
// as a copy cut short, or unreadable sectors, leave it: the analysis offers the
// volume while the source holds at least half of it; `hbprobe analyze --choose 0
// --recover` brings back every file whose entry and data are there byte for
// byte with its time, marks each file whose data is not with the fill in place
// of what is missing, and a root that could not be read in full says so in the
// report and counts as an error.

#include "devices/UnreadableSectors.h"
#include "tests/support/FatCorpus.h"
#include "tests/support/FilesCameBack.h"
#include "tests/support/ProbeRun.h"
#include "tests/support/TestUtil.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

using namespace testutil;
using testing::HasSubstr;

namespace {

// The root's clusters that were grown behind the data.
std::vector<u32> laterRootClusters(const FilledFat32& v) {
    const std::size_t front = FilledFat32::FRONT_FILES / FilledFat32::ENTRIES_PER_CLUSTER;
    return std::vector<u32>(v.rootClusters.begin() + front, v.rootClusters.end());
}

u64 volumeSectors(const FilledFat32& v) {
    return v.params.totalSectors;
}

struct Shape {
    const char* name;
    // The sectors the copy holds.
    std::function<u64(const FilledFat32&)> held;
    // The sectors that fail to read.
    std::function<std::vector<u64>(const FilledFat32&)> failing;
    bool offered;
};

std::ostream& operator<<(std::ostream& os, const Shape& s) {
    return os << s.name;
}

std::function<u64(const FilledFat32&)> percentHeld(u64 percent) {
    return [percent](const FilledFat32& v) { return volumeSectors(v) * percent / 100; };
}

std::vector<u64> none(const FilledFat32&) {
    return {};
}

const Shape SHAPES[] = {
    {"CutTo67Percent", percentHeld(67), none, true},
    {"CutTo51Percent", percentHeld(51), none, true},
    {"CutTo49Percent", percentHeld(49), none, false},
    // Just past the data: what is missing is the root's later clusters alone.
    {"CutBeforeTheRootsLaterClusters",
     [](const FilledFat32& v) { return v.params.get_cluster_LBA(laterRootClusters(v).front()); },
     none, true},
    {"RootsLaterClustersUnreadable", volumeSectors,
     [](const FilledFat32& v) {
         std::vector<u64> lbas;
         for (u32 c : laterRootClusters(v))
             lbas.push_back(v.params.get_cluster_LBA(c));
         return lbas;
     },
     true},
};

// The line of a file in the recovery's report.
std::string recoverLine(const std::string& out, const std::string& name) {
    const std::size_t recover = out.find("--- recover ---");
    const std::size_t at = out.find("\n" + name + " ", recover);
    if (recover == std::string::npos || at == std::string::npos)
        return std::string();
    return out.substr(at + 1, out.find('\n', at + 1) - at - 1);
}

class CutVolumeTest : public ::testing::TestWithParam<Shape> {
protected:
    TempDir dir;
};

TEST_P(CutVolumeTest, WhatTheCopyHoldsComesBackAndWhatItLacksIsMarked) {
    const FilledFat32& v = filledFat32();
    const Shape& shape = GetParam();
    const u64 held = shape.held(v);
    const std::vector<u64> failing = shape.failing(v);
    std::string image = v.path;
    if (held < volumeSectors(v)) {
        image = dir.file("cut.img");
        std::filesystem::copy_file(v.path, image);
        std::filesystem::resize_file(image, held * 512);
    }
    std::string fail;
    for (u64 lba : failing)
        fail += (fail.empty() ? " --fail " : ",") + std::to_string(lba);
    const std::string dest = dir.file("out");
    const ProbeResult r = runProbe("analyze" + fail + " " + fileDescriptor(image) +
                                   " --choose 0 --recover " + shellQuote(dest) + " --answer all");
    if (!shape.offered) {
        EXPECT_NE(r.status, 0);
        EXPECT_THAT(r.err, HasSubstr("no file system 0 in the layout"));
        return;
    }
    ASSERT_EQ(r.status, 0) << r.err;

    const std::set<u64> bad(failing.begin(), failing.end());
    auto readable = [&](u32 cluster) {
        const u64 lba = v.params.get_cluster_LBA(cluster);
        return lba < held && bad.count(lba) == 0;
    };
    const bool rootWhole = std::all_of(v.rootClusters.begin(), v.rootClusters.end(), readable);
    PlacedFiles whole;
    std::vector<const FilledFat32::File*> marked;
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < v.files.size(); ++i) {
        const FilledFat32::File& f = v.files[i];
        if (!readable(v.rootClusters[i / FilledFat32::ENTRIES_PER_CLUSTER]))
            continue;
        listed.push_back(f.name);
        if (std::all_of(f.clusters.begin(), f.clusters.end(), readable))
            whole.push_back({f.name, f.data, IMAGE_EPOCH});
        else
            marked.push_back(&f);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listFolder(dest), listed);
    EXPECT_TRUE(filesCameBack(dest, whole));
    for (const FilledFat32::File* f : marked) {
        SCOPED_TRACE(f->name);
        EXPECT_THAT(recoverLine(r.out, f->name), testing::EndsWith(" (recovered with errors)"));
        const std::string got = readAll(dest + "/" + f->name);
        ASSERT_EQ(got.size(), f->data.size());
        u64 wrong = 0;
        for (std::size_t k = 0; k < f->clusters.size(); ++k) {
            const std::size_t at = k * 512;
            const std::size_t n = std::min<std::size_t>(512, got.size() - at);
            const bool ok = readable(f->clusters[k])
                                ? got.compare(at, n, f->data, at, n) == 0
                                : isUnreadablePattern(reinterpret_cast<const u8*>(&got[at]), n);
            wrong += ok ? 0 : 1;
        }
        EXPECT_EQ(wrong, 0u);
    }
    // The root's own line, in the tree's report and in the recovery's.
    const std::string rootLine =
        "\nROOT                                  <DIR> Invalid Time (incomplete)\n";
    std::size_t rootLines = 0;
    for (std::size_t at = r.out.find(rootLine); at != std::string::npos;
         at = r.out.find(rootLine, at + 1))
        ++rootLines;
    EXPECT_EQ(rootLines, rootWhole ? 0u : 2u);
    const std::size_t errors = r.out.rfind("\nfiles with errors: ");
    ASSERT_NE(errors, std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(errors + 1),
              "files with errors: " + std::to_string(marked.size() + (rootWhole ? 0 : 1)) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Shapes, CutVolumeTest, ::testing::ValuesIn(SHAPES),
                         [](const ::testing::TestParamInfo<Shape>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
