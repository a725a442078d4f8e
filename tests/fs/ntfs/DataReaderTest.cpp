#include "fs/ntfs/DataReader.h"

#include "core/Log.h"
#include "devices/UnreadableSectors.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"
#include "tests/support/FsImages.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/RecoveredFiles.h"
#include "tests/support/TestUtil.h"
#include "tree/Recoverer.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using ntfstest::MemoryVolume;
using ntfstest::Volume;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// Collects the pieces a reader streams.
class Collector : public ntfs::BaseDataReader {
public:
    Collector(NTFSDrive& drive, const ntfs::RecordSource* records)
        : BaseDataReader(drive, records) {}
    void write(const u8* data, u32 length) override {
        pieces.push_back(length);
        bytes.append(reinterpret_cast<const char*>(data), length);
    }
    std::vector<u32> pieces;
    std::string bytes;
};

class OneRecord : public ntfs::RecordSource {
public:
    explicit OneRecord(std::string bytes) : bytes_(std::move(bytes)) {}
    ConstArray getRecordArray(u64 record) const override {
        if (record != 7)
            throw std::runtime_error("not loaded");
        return ConstArray(reinterpret_cast<const u8*>(bytes_.data()),
                          static_cast<u32>(bytes_.size()));
    }

private:
    std::string bytes_;
};

NtfsAttributeData nonResident(u64 size, Runlist runs) {
    NtfsAttributeData data;
    data.size = size;
    data.runs = std::move(runs);
    return data;
}

std::string sectorsOf(const std::string& volume, u64 first, u64 count) {
    return volume.substr(first * 512, count * 512);
}

TEST(DataReaderTest, AResidentValueIsWrittenOnceFromItsRecord) {
    MemoryVolume v(testutil::numberedSectors(64), 1);
    OneRecord record(std::string(100, 'r') + "value" + std::string(919, 'r'));
    Collector reader(*v.drive, &record);
    NtfsAttributeData data;
    data.resident = true;
    data.recordNumber = 7;
    data.valueOffset = 100;
    data.size = 5;
    EXPECT_TRUE(reader.read(data));
    EXPECT_EQ(reader.bytes, "value");
    // An empty value still opens and closes the stream with one write.
    data.size = 0;
    reader.pieces.clear();
    EXPECT_TRUE(reader.read(data));
    EXPECT_EQ(reader.pieces, std::vector<u32>{0});
    // A value that does not lie in its record, or a record not loaded, is the
    // caller's fault.
    data.size = 1000;
    EXPECT_THROW(reader.read(data), std::out_of_range);
    data.recordNumber = 8;
    EXPECT_THROW(reader.read(data), std::runtime_error);
    EXPECT_TRUE(v.reader->requests().empty());
}

TEST(DataReaderTest, StreamsInPiecesOfSixteenClustersAndKeepsTheLength) {
    const std::string volume = testutil::numberedSectors(256);
    MemoryVolume v(volume, 2);
    Collector reader(*v.drive, nullptr);
    // 40 clusters: two whole pieces of 32 sectors, then 14 sectors and a bit.
    const u64 size = 77 * 512 + 100;
    ASSERT_TRUE(reader.read(nonResident(size, {{10, 40, 40}})));
    EXPECT_EQ(reader.pieces, (std::vector<u32>{16384, 16384, 6756}));
    EXPECT_TRUE(ntfstest::sameBytes(reader.bytes, sectorsOf(volume, 20, 78).substr(0, size)));
}

TEST(DataReaderTest, AOneByteFileReadsOneSector) {
    const std::string volume = testutil::numberedSectors(64);
    MemoryVolume v(volume, 8);
    Collector reader(*v.drive, nullptr);
    ASSERT_TRUE(reader.read(nonResident(1, {{3, 1, 1}})));
    EXPECT_EQ(reader.bytes, volume.substr(24 * 512, 1));
    ASSERT_EQ(v.reader->requests().size(), 1u);
    EXPECT_EQ(v.reader->requests()[0].size, 512);
}

TEST(DataReaderTest, OnlyTheUnreadableSectorsCarryThePattern) {
    const std::string volume = testutil::numberedSectors(128);
    MemoryVolume v(volume, 1, 0, {13, 40});
    Collector reader(*v.drive, nullptr);
    // Sectors 10..49; 13 lies in the first piece, 40 in the third.
    const std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(reader.read(nonResident(40 * 512 - 7, {{10, 40, 40}})));
    EXPECT_NE(logSince(mark).find("RunlistReader(85)"), std::string::npos);
    ASSERT_EQ(reader.bytes.size(), 40u * 512 - 7);
    for (u64 s = 0; s < 40; ++s) {
        const std::string got = reader.bytes.substr(s * 512, 512);
        const std::string want = volume.substr((10 + s) * 512, got.size());
        if (s == 3 || s == 30)
            EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()), 512))
                << "sector " << s;
        else
            EXPECT_TRUE(ntfstest::sameBytes(got, want)) << "sector " << s;
    }
}

TEST(DataReaderTest, AFailedPieceOfOneSectorIsFilledWhole) {
    MemoryVolume v(testutil::numberedSectors(64), 1, 0, {20});
    Collector reader(*v.drive, nullptr);
    EXPECT_FALSE(reader.read(nonResident(300, {{20, 1, 1}})));
    ASSERT_EQ(reader.bytes.size(), 300u);
    EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(reader.bytes.data()), 300));
}

TEST(DataReaderTest, SparseRunsAreZerosAndTheInitializedSizeEndsTheData) {
    const std::string volume = testutil::numberedSectors(64);
    MemoryVolume v(volume, 1);
    Collector reader(*v.drive, nullptr);
    NtfsAttributeData data = nonResident(6 * 512, {{5, 2, 2}, {0, 2, 0}, {30, 2, 2}});
    data.initializedSize = 5 * 512 + 10;
    ASSERT_TRUE(reader.read(data));
    const std::string want = sectorsOf(volume, 5, 2) + std::string(1024, '\0') +
                             sectorsOf(volume, 30, 1) + volume.substr(31 * 512, 10) +
                             std::string(512 - 10, '\0');
    EXPECT_TRUE(ntfstest::sameBytes(reader.bytes, want));
}

TEST(DataReaderTest, ASizeItsRunsDoNotCoverIsRefusedBeforeWriting) {
    MemoryVolume v(testutil::numberedSectors(64), 1);
    Collector reader(*v.drive, nullptr);
    const std::size_t mark = logMemoryText().size();
    // A damaged size of 2^62 bytes over one cluster must not stream for ever.
    EXPECT_FALSE(reader.read(nonResident(u64{1} << 62, {{5, 1, 1}})));
    EXPECT_TRUE(reader.pieces.empty());
    EXPECT_NE(logSince(mark).find("BaseDataReader("), std::string::npos);
    // A run list no reader can walk covers nothing.
    EXPECT_FALSE(reader.read(nonResident(512, {{5, 3, 4}})));
    EXPECT_TRUE(reader.pieces.empty());
}

TEST(DataReaderTest, ALongSparseStreamCanBeCancelled) {
    MemoryVolume v(testutil::numberedSectors(64), 8);
    testutil::RecordingProgress box;
    box.cancelAtPoll(3);
    v.drive->setInterfaceCallback(&box);
    Collector reader(*v.drive, nullptr);
    // 2^40 clusters of zeros: the drive is never read, yet the user can stop it.
    EXPECT_THROW(reader.read(nonResident(u64{1} << 40, {{0, u64{1} << 40, 0}})),
                 InterruptedException);
    EXPECT_EQ(reader.pieces.size(), 2u);
    v.drive->setInterfaceCallback(nullptr);
}

TEST(DataReaderTest, BufferAndRecovererReadersDeliverTheSameBytes) {
    const std::string volume = testutil::numberedSectors(64);
    MemoryVolume v(volume, 1);
    const NtfsAttributeData data = nonResident(3000, {{7, 6, 6}});
    std::string buffer(3000, '\0');
    ntfs::BufferDataReader toBuffer(*v.drive, nullptr, reinterpret_cast<u8*>(&buffer[0]), 3000);
    ASSERT_TRUE(toBuffer.read(data));
    EXPECT_EQ(buffer, volume.substr(7 * 512, 3000));
    // A destination too small for the data is the caller's fault.
    std::string small(100, '\0');
    ntfs::BufferDataReader tooSmall(*v.drive, nullptr, reinterpret_cast<u8*>(&small[0]), 100);
    EXPECT_THROW(tooSmall.read(data), std::runtime_error);

    class Sink : public tree::Recoverer {
    public:
        void beginFile(const tree::FileEntry&, const std::vector<std::string>&) override {}
        void write(const void* data, u32 size) override {
            bytes.append(static_cast<const char*>(data), size);
        }
        void endFile() override {}
        std::string bytes;
    } sink;
    ntfs::RecovererDataReader toRecoverer(*v.drive, nullptr);
    EXPECT_THROW(toRecoverer.read(data), std::runtime_error);
    toRecoverer.setRecoverer(&sink);
    ASSERT_TRUE(toRecoverer.read(data));
    EXPECT_EQ(sink.bytes, buffer);
}

// A record may claim a sparse file of terabytes on a volume of 32 KiB: the
// zeros no cluster holds reach the recoverer as holes, and only the data is
// written.
TEST(DataReaderTest, ZerosNoClusterHoldsReachTheRecovererAsHoles) {
    const std::string volume = testutil::numberedSectors(64);
    MemoryVolume v(volume, 8);
    testutil::RecordingRecoverer sink;
    ntfs::RecovererDataReader reader(*v.drive, nullptr);
    reader.setRecoverer(&sink);
    const u64 clusters = u64{1} << 18;
    NtfsAttributeData data =
        nonResident(clusters * 4096 - 100, {{1, 1, 1}, {0, clusters - 3, 0}, {2, 1, 1}, {3, 1, 1}});
    data.initializedSize = (clusters - 1) * 4096 + 10;
    sink.beginFile(tree::FileEntry("huge", data.size, 0), {});
    ASSERT_TRUE(reader.read(data));
    const testutil::RecordingRecoverer::File& f = sink.files.back();
    EXPECT_EQ(f.size, data.size);
    EXPECT_EQ(f.holes, data.size - 2 * 4096 - 512);
    EXPECT_EQ(f.bytes.substr(0, 4096), volume.substr(8 * 512, 4096));
    // Without a hole to make, the zeros are written.
    struct WritesZeros : testutil::RecordingRecoverer {
        void writeZeros(u64 size) override { tree::Recoverer::writeZeros(size); }
    } plain;
    plain.beginFile(tree::FileEntry("small", 3 * 4096, 0), {});
    reader.setRecoverer(&plain);
    ASSERT_TRUE(reader.read(nonResident(3 * 4096, {{1, 1, 1}, {0, 2, 0}})));
    EXPECT_EQ(plain.files.back().bytes, volume.substr(8 * 512, 4096) + std::string(8192, '\0'));
    EXPECT_EQ(plain.files.back().holes, 0u);
}

TEST(DataReaderTest, UnreadableDataIsFoundWhereTheDataLies) {
    MemoryVolume v(testutil::numberedSectors(256), 4);
    v.unreadable.runs() = {{41, 1}};
    const NTFSDrive& drive = *v.drive;
    // Cluster 10 holds sectors 40..43.
    EXPECT_TRUE(ntfs::BaseDataReader::hasUnreadableData(drive, nonResident(4096, {{10, 1, 1}}), 0));
    EXPECT_FALSE(
        ntfs::BaseDataReader::hasUnreadableData(drive, nonResident(4096, {{11, 1, 1}}), 0));
    // Only the sectors the size reaches count: 512 bytes are sector 40 alone.
    EXPECT_FALSE(ntfs::BaseDataReader::hasUnreadableData(drive, nonResident(512, {{10, 2, 2}}), 0));
    // A compression unit needs all its stored clusters, a hole needs none.
    EXPECT_TRUE(ntfs::BaseDataReader::hasUnreadableData(
        drive, nonResident(512, {{9, 0, 1}, {10, 16, 1}}), 0));
    EXPECT_FALSE(ntfs::BaseDataReader::hasUnreadableData(
        drive, nonResident(8192, {{10, 2, 0}, {20, 2, 2}}), 0));
    // A run outside the volume touches nothing the scan saw.
    EXPECT_FALSE(
        ntfs::BaseDataReader::hasUnreadableData(drive, nonResident(512, {{1u << 20, 1, 1}}), 0));
    // A resident value: its sectors inside its record.
    NtfsAttributeData resident;
    resident.resident = true;
    resident.valueOffset = 500;
    resident.size = 20;
    EXPECT_TRUE(ntfs::BaseDataReader::hasUnreadableData(drive, resident, 40));
    resident.size = 12;
    EXPECT_FALSE(ntfs::BaseDataReader::hasUnreadableData(drive, resident, 40));
    EXPECT_FALSE(ntfs::BaseDataReader::hasUnreadableData(drive, resident, ~u64{0}));
    resident.size = 0;
    EXPECT_FALSE(ntfs::BaseDataReader::hasUnreadableData(drive, resident, 41));
}

// Real volumes: every file streamed through the reader must equal what was put
// in, and what ntfscat reads back.
void expectFiles(Volume& v, const std::map<std::string, std::string>& files) {
    for (const auto& f : files) {
        SCOPED_TRACE(f.first);
        const NtfsAttributeData data = v.data(f.first);
        bool ok = false;
        const std::string got = v.stream(data, &ok);
        EXPECT_TRUE(ok);
        EXPECT_TRUE(ntfstest::sameBytes(got, f.second));
        EXPECT_TRUE(ntfstest::sameBytes(got, v.ntfscat(f.first)));
    }
}

TEST(DataReaderRealTest, FilesOnEveryClusterSize) {
    for (u32 cluster : {512u, 4096u, 65536u}) {
        SCOPED_TRACE(cluster);
        Volume v(48u << 20, cluster);
        std::map<std::string, std::string> files = {
            {"one", "x"},
            {"resident", ntfstest::textContent(600, 2)},
            {"unitLess1", ntfstest::randomContent((64u << 10) - 1, 3)},
            {"unitMore1", ntfstest::textContent((64u << 10) + 1, 4)},
            {"mebibyte", ntfstest::randomContent(1u << 20, 5)},
            {"sectorEdge", ntfstest::randomContent(512 * 9, 6)},
        };
        for (const auto& f : files)
            v.add(f.first, f.second);
        expectFiles(v, files);
        EXPECT_TRUE(v.data("resident").resident);
        EXPECT_FALSE(v.data("mebibyte").resident);
    }
}

TEST(DataReaderRealTest, CompressedFiles) {
    for (u32 cluster : {512u, 4096u}) {
        SCOPED_TRACE(cluster);
        Volume v(48u << 20, cluster, true);
        std::map<std::string, std::string> files;
        for (std::size_t size : {(64u << 10) - 1, (64u << 10) + 1, 1u << 20}) {
            const std::string n = std::to_string(size);
            files["text" + n] = ntfstest::textContent(size, static_cast<unsigned>(size));
            files["zeros" + n] = std::string(size, '\0');
            files["random" + n] = ntfstest::randomContent(size, static_cast<unsigned>(size));
        }
        // Holes in the middle and at the end of compressed data, and units of
        // every kind in one file.
        files["mixed"] = std::string(70000, '\0') + ntfstest::textContent(100000, 8) +
                         ntfstest::randomContent(150000, 9) + std::string(200000, '\0') +
                         ntfstest::textContent(3333, 10) + std::string(140000, '\0');
        for (const auto& f : files)
            v.add(f.first, f.second);
        expectFiles(v, files);
        bool compressed = false, sparse = false;
        for (const NtfsRun& r : v.data("mixed").runs) {
            compressed |= r.isCompressed();
            sparse |= r.isSparse();
        }
        EXPECT_TRUE(compressed && sparse);
    }
}

TEST(DataReaderRealTest, FragmentedFiles) {
    Volume v(16u << 20, 4096);
    v.add("a", "a");
    v.add("b", "b");
    // Growing two files by turns interleaves their clusters; ntfscp then writes
    // into the clusters they have.
    std::string script;
    for (int k = 1; k <= 24; ++k) {
        for (const char* f : {"a", "b"})
            script += "ntfsfallocate -o " + std::to_string(k * 4096) + " -l 4096 IMAGE " + f +
                      " >/dev/null && ";
    }
    v.tool(script + "true");
    const std::string a = ntfstest::randomContent(25 * 4096, 11);
    const std::string b = ntfstest::textContent(25 * 4096 - 1000, 12);
    v.add("a", a);
    v.add("b", b);
    EXPECT_GE(v.data("a").runs.size(), 20u);
    expectFiles(v, {{"a", a}, {"b", b}});
}

TEST(DataReaderRealTest, SparseHolesInTheMiddleAndAtTheEndReadAsZeros) {
    Volume v(16u << 20, 4096);
    const std::string head = ntfstest::randomContent(10000, 13);
    v.add("middle", head);
    v.add("end", head);
    // An allocation far past the data leaves a hole before it; its clusters
    // were never written and lie beyond the initialized size.
    v.tool("ntfsfallocate -o 40960 -l 8192 IMAGE middle");
    v.tool("ntfstruncate IMAGE " + std::to_string(v.recordOf("end")) + " 200000");
    const NtfsAttributeData middle = v.data("middle");
    ASSERT_EQ(middle.size, 49152u);
    ASSERT_EQ(middle.initializedSize, 10000u);
    // What those clusters and the tail of the last written one hold is
    // whatever the disk had; make it visible.
    for (const NtfsRun& r : middle.runs) {
        if (r.isPlain())
            testutil::writeAt(
                v.image(), r.lcn * 4096 + (r.lcn == middle.runs[0].lcn ? 10000 : 0),
                std::string(r.lcn == middle.runs[0].lcn ? 2288 : r.clusters * 4096, '\xAA'));
    }
    v.close();
    // Read as if all were written, the garbage shows: the initialized size is
    // what keeps it out.
    NtfsAttributeData unlimited = v.data("middle");
    unlimited.initializedSize = RunlistReader::ALL_INITIALIZED;
    EXPECT_EQ(v.stream(unlimited).substr(10000, 4), "\xAA\xAA\xAA\xAA");
    const std::string zerosAfter = head + std::string(49152 - 10000, '\0');
    expectFiles(v, {{"middle", zerosAfter}, {"end", head + std::string(190000, '\0')}});
}

TEST(DataReaderRealTest, AnUnreadableSectorOfARealFileBecomesThePattern) {
    Volume v(16u << 20, 4096);
    const std::string content = ntfstest::randomContent(100000, 14);
    v.add("f", content);
    const NtfsAttributeData data = v.data("f");
    ASSERT_EQ(data.runs.size(), 1u);
    const u64 bad = data.runs[0].lcn * 8 + 11; // the file's sector 11
    v.drive({bad});
    bool ok = true;
    const std::string got = v.stream(v.data("f"), &ok);
    EXPECT_FALSE(ok);
    ASSERT_EQ(got.size(), content.size());
    EXPECT_TRUE(ntfstest::sameBytes(got.substr(0, 11 * 512), content.substr(0, 11 * 512)));
    EXPECT_TRUE(isUnreadablePattern(reinterpret_cast<const u8*>(got.data()) + 11 * 512, 512));
    EXPECT_TRUE(ntfstest::sameBytes(got.substr(12 * 512), content.substr(12 * 512)));
    EXPECT_TRUE(ntfs::BaseDataReader::hasUnreadableData(v.drive({bad}), data, ~u64{0}));
}

} // namespace
