#pragma once

// Fills an NTFS volume made by mkntfs (NtfsImage) with what the engine's tests
// need, and damages it, through our builder on libntfs-3g (hbntfsbuild, see
// tests/tools/NtfsBuild.cpp for what each command does on the volume):
//
//   NtfsImage image(dir.file("v.img"), {});
//   ASSERT_TRUE(NtfsBuilder(image).mkdir("/a").write("/a/f", bytes).compress("/c", text).run());
//
// The calls only collect commands; run() carries them out in one go and says
// why when it fails. Everything made gets the time IMAGE_EPOCH unless setMtime
// says otherwise. A deleted file's record is free again, and what is made
// after it may take it: delete last when the deleted files matter.

#include "core/Types.h"
#include "tests/support/TestUtil.h"

#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

class NtfsImage;

// Bytes [offset, offset + length) of a sparse file that take no clusters.
struct Hole {
    u64 offset = 0;
    u64 length = 0;
};

// `bytes` with the holes zeroed: what a sparse file made from them reads as.
std::string punchHoles(std::string bytes, const std::vector<Hole>& holes);

class NtfsBuilder {
public:
    // The volume file itself, not a disk with a partition table. For a
    // partitioned NtfsImage, ask for image.path() only after the last run(),
    // since the disk is put together from the volume the first time it is asked.
    explicit NtfsBuilder(std::string volumePath);
    explicit NtfsBuilder(const NtfsImage& image);

    // Paths inside the volume are absolute, '/'-separated UTF-8.
    NtfsBuilder& mkdir(const std::string& path) { return add({"mkdir", path}); }
    // Small files stay resident in their record. In a compressed folder (a
    // volume made with compression) the file is compressed too.
    NtfsBuilder& write(const std::string& path, const std::string& bytes) {
        return add({"write", path, dataFile(bytes)});
    }
    // Clusters of 4096 bytes or less.
    NtfsBuilder& compress(const std::string& path, const std::string& bytes) {
        return add({"compress", path, dataFile(bytes)});
    }
    // Cluster-aligned holes (one may end with the file); `bytes` must be zero
    // there (punchHoles).
    NtfsBuilder& sparse(const std::string& path, const std::string& bytes,
                        const std::vector<Hole>& holes);
    // At least `pieces` runs apart on the volume; the file needs as many clusters.
    NtfsBuilder& fragment(const std::string& path, const std::string& bytes, u32 pieces) {
        return add({"fragment", path, dataFile(bytes), std::to_string(pieces)});
    }
    // An 8.3 DOS name beside the long one.
    NtfsBuilder& dosName(const std::string& path, const std::string& shortName) {
        return add({"dosname", path, shortName});
    }
    NtfsBuilder& setMtime(const std::string& path, std::time_t mtime) {
        return add({"setmtime", path, std::to_string(mtime)});
    }
    // The modification time of the record's standard information alone, as a
    // write leaves it: the names keep theirs.
    NtfsBuilder& setDataTime(const std::string& path, std::time_t mtime) {
        return add({"datatime", path, std::to_string(mtime)});
    }
    // A second name of the file, a hard link.
    NtfsBuilder& link(const std::string& path, const std::string& newPath) {
        return add({"link", path, newPath});
    }
    // A symbolic link as libntfs-3g makes one: flagged system, the target in
    // its data.
    NtfsBuilder& symlink(const std::string& path, const std::string& target) {
        return add({"symlink", path, target});
    }
    NtfsBuilder& rm(const std::string& path) { return add({"rm", path}); }
    // A folder with everything in it, deepest first.
    NtfsBuilder& rmtree(const std::string& path) { return add({"rmtree", path}); }

    // Damage, written straight to the volume.
    NtfsBuilder& zeroBootSector() { return add({"zero-boot"}); }
    NtfsBuilder& zeroMftRecord0() { return add({"zero-mft0"}); }
    NtfsBuilder& zeroMirrorRecord0() { return add({"zero-mirror0"}); }
    // MFT records [first, first + count), wherever the MFT's runs put them.
    NtfsBuilder& zeroMftRecords(u64 first, u64 count) {
        return add({"zero-records", std::to_string(first), std::to_string(count)});
    }
    // The base record of the file or folder at `path`.
    NtfsBuilder& zeroRecord(const std::string& path) { return add({"zero-record", path}); }
    // The block of the folder's index that holds the entry of `name`, all of it.
    NtfsBuilder& zeroIndexBlock(const std::string& folder, const std::string& name) {
        return add({"zero-index-block", folder, name});
    }
    // The record's in-use flag only; the MFT bitmap still counts it.
    NtfsBuilder& clearInUse(const std::string& path) { return add({"clear-inuse", path}); }
    // Overwrites bytes of the attribute of the file's data stream in its
    // record, at `offset` within it (ntfslayout::ATTR_...).
    NtfsBuilder& corruptData(const std::string& path, u64 offset, const std::string& bytes);
    // The same in the file's unnamed attribute of that type.
    NtfsBuilder& corruptAttribute(const std::string& path, u32 type, u64 offset,
                                  const std::string& bytes);
    // The run list of the file's data stream ends after its first `runs` runs.
    NtfsBuilder& cutRuns(const std::string& path, u32 runs) {
        return add({"cut-runs", path, std::to_string(runs)});
    }
    // Overwrites bytes of the index entry of `name` in `folder`, at `offset`
    // within the entry (ntfslayout::IE_...); the index keeps valid fix-ups. The
    // folder must hold enough names to have index blocks.
    NtfsBuilder& corruptIndex(const std::string& folder, const std::string& name, u64 offset,
                              const std::string& bytes);

    // Carries out the commands collected since the last run.
    ::testing::AssertionResult run();

    // The builder's path.
    static std::string toolPath();

private:
    NtfsBuilder& add(std::vector<std::string> command);
    std::string dataFile(const std::string& bytes);

    std::string volume_;
    std::unique_ptr<TempDir> scratch_;
    std::vector<std::vector<std::string>> commands_;
    unsigned files_ = 0;
};

} // namespace testutil
