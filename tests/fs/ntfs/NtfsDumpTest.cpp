#include "fs/ntfs/NtfsDumps.h"

#include "fs/ntfs/NtfsRecord.h"
#include "tests/fs/ntfs/NtfsFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <sstream>

namespace {

using Bytes = std::vector<u8>;
using ntfstest::RecordBuilder;
using ::testing::HasSubstr;
using ::testing::Not;

std::string dump(Bytes record) {
    std::ostringstream os;
    dumpNtfsFileRecord(os, record.data(), static_cast<u32>(record.size()));
    return os.str();
}

std::string listEntry(u32 type, u16 size, u64 reference) {
    std::string e(std::max<u16>(size, 26), '\0');
    e[0] = static_cast<char>(type);
    e[4] = static_cast<char>(size);
    for (int i = 0; i < 8; ++i)
        e[16 + i] = static_cast<char>(reference >> (8 * i));
    e.resize(size); // a damaged entry may be too short for its own fields
    return e;
}

const Bytes RECORD =
    RecordBuilder()
        .resident(NTFS_ATTR_STANDARD_INFORMATION, std::string(72, '\0'))
        .resident(NTFS_ATTR_ATTRIBUTE_LIST,
                  listEntry(0x10, 32, 0x0002000000000009) + listEntry(0x80, 20, 11))
        .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"notes.txt", 1, 0x20, 9000))
        .resident(
            NTFS_ATTR_INDEX_ROOT,
            ntfstest::indexRoot(4096, {ntfstest::indexEntry(64, RecordBuilder::fileName(5, u"y")),
                                       ntfstest::lastEntry()}),
            u"$I30")
        .nonResident(NTFS_ATTR_DATA, {0x21, 0x03, 0x34, 0x12, 0x01, 0x0D, 0x00}, 65536, 0, 4,
                     NTFS_ATTR_FLAG_COMPRESSED)
        .raw();

// The runs of a compressed attribute as a reader meets them, the attribute list
// as the parser found it, up to its bad entry.
TEST(NtfsDumpTest, ARecordShowsWhatTheParsersDecoded) {
    const std::string out = dump(RECORD);
    EXPECT_THAT(out, HasSubstr("Magic:\t'FILE'\nUpdate Sequence Offset:\t48, Size:\t3\n"));
    EXPECT_THAT(out, HasSubstr("XP MFT Index:\t42\n"));
    EXPECT_THAT(out,
                HasSubstr("--- Entry Offset: 0, Size: 32 ---\n\t\tType:\tSTANDARD_INFORMATION\n"));
    EXPECT_THAT(out, HasSubstr("File Reference:\t9, Sequence Number:\t2\n"));
    EXPECT_THAT(out, HasSubstr("--- Entry Offset: 32 ---\n\t\tError: Entry Size\n"));
    EXPECT_THAT(out, HasSubstr("File Namespace:\tWIN32\n\t\tFile Name:\t'notes.txt'\n"));
    EXPECT_THAT(out, HasSubstr("File Name:\t'y'\n"));
    EXPECT_THAT(out, HasSubstr("Runlist Offset:\t72\t{4660, 16 (compressed to 3)} 16 clusters\n"));
    EXPECT_THAT(out, HasSubstr("Compression Unit Size:\t4\n"));
    EXPECT_THAT(out, HasSubstr("\t$END\n}\n"));
    EXPECT_THAT(out, Not(HasSubstr("Out Of Range")));
    Bytes torn = RECORD;
    torn[1022] = 0;
    torn[0] = 'B';
    EXPECT_EQ(dump(torn).rfind("Invalid NTFS File Record\nInvalid Update Sequence\n", 0), 0u);
}

TEST(NtfsDumpTest, HostileRecordsNeverThrowOutOfTheDump) {
    std::mt19937 random(3);
    for (int i = 0; i < 5000; ++i) {
        Bytes damaged = RECORD;
        for (int k = 0; k < 1 + i % 6; ++k)
            damaged[random() % damaged.size()] = static_cast<u8>(random());
        EXPECT_NO_THROW(dump(damaged));
    }
    EXPECT_THAT(dump(Bytes{'F', 0, 0, 0}), HasSubstr("Out Of Range\n"));
}

} // namespace
