#pragma once

// A real NTFS volume for the drive and data-reader tests: made by mkntfs in a
// temporary folder, filled with ntfscp, opened as an NTFSDrive over the image
// file (optionally through a reader with bad sectors), with each file's unnamed
// $DATA taken from its records as the file parser takes it. It is also the
// record source of resident values.

#include "fs/ntfs/DataReader.h"
#include "fs/ntfs/NtfsAttributeData.h"
#include "fs/ntfs/NTFSDrive.h"
#include "tests/fs/ntfs/NtfsTestImage.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ntfstest {

// Contents that NTFS stores each its own way when compression is on: prose
// compresses, random bytes are stored as they are, zeros become holes.
std::string textContent(std::size_t size, unsigned seed = 1);
std::string randomContent(std::size_t size, unsigned seed = 1);

// An NTFSDrive over bytes in memory (volume at LBA `startLba` of the source),
// read through a FailingReader that records every request.
struct MemoryVolume {
    MemoryVolume(const std::string& bytes, u64 sectorsPerCluster, u32 startLba = 0,
                 const std::vector<u64>& bad = {});

    testutil::FailingReader* reader; // owned by the driver
    SharedPtr<Driver> driver;
    UnreadableSectors unreadable;
    std::unique_ptr<NTFSDrive> drive;
};

// A FILE record made in memory, attribute by attribute, for the record tests.
// raw() gives it as the disk holds it: end marker added and every sector's tail
// replaced by the update sequence number.
class RecordBuilder {
public:
    explicit RecordBuilder(u32 sectors = 2, u16 usaOffset = 0x30, u16 flags = 1);

    RecordBuilder& resident(u32 type, const std::string& value, const std::u16string& name = u"");
    RecordBuilder& nonResident(u32 type, const std::vector<u8>& pairs, u64 dataSize,
                               u64 startVcn = 0, u8 compressionUnit = 0, u16 flags = 0,
                               const std::u16string& name = u"");
    // Raw bytes appended as an attribute (for damaged ones).
    RecordBuilder& rawAttribute(const std::vector<u8>& bytes);
    std::vector<u8> raw() const;

    // A $FILE_NAME value.
    static std::string fileName(u64 parent, const std::u16string& name, u8 nameSpace = 1,
                                u32 flags = 0x20, u64 size = 0);

private:
    std::vector<u8> bytes_;
    u32 next_;
    u32 sectors_;
    u16 instance_ = 0;
};

// Equal byte strings; otherwise where they part, as hex.
::testing::AssertionResult sameBytes(const std::string& got, const std::string& want);

class Volume : public ntfs::RecordSource {
public:
    // mkntfs -F -Q of `bytes` bytes with that cluster size; -C when compressed.
    // Throws std::runtime_error when a tool fails.
    Volume(u64 bytes, u32 clusterSize, bool compressed = false);

    const std::string& image() const { return image_; }
    testutil::TempDir& dir() { return dir_; }

    // ntfscp of the content into the root as `name`; closes the drive.
    void add(const std::string& name, const std::string& content);
    // The MFT record of /name.
    u64 recordOf(const std::string& name);
    // A tool run on the image ("ntfsfallocate -o 0 -l 4096 IMAGE name").
    void tool(const std::string& commandWithImage);

    // The drive over the image as it is now; sectors in `bad` fail to read.
    NTFSDrive& drive(const std::vector<u64>& bad = {});
    void close();

    // The unnamed $DATA of /name, resident or not; its records are loaded as the
    // source of a resident value.
    NtfsAttributeData data(const std::string& name);
    // What ntfscat prints for /name.
    std::string ntfscat(const std::string& name) const;
    // The whole data streamed through a BufferDataReader; `ok` gets the result.
    std::string stream(const NtfsAttributeData& data, bool* ok = nullptr);

    ConstArray getRecordArray(u64 record) const override;

private:
    testutil::TempDir dir_;
    std::string image_;
    std::unique_ptr<Image> parsed_;
    std::unique_ptr<UnreadableSectors> unreadable_;
    std::unique_ptr<NTFSDrive> drive_;
    std::map<u64, std::vector<u8>> records_;
    int added_ = 0;
};

} // namespace ntfstest
