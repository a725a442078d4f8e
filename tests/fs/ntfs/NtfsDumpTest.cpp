#include "fs/ntfs/NtfsDumps.h"

#include "fs/ntfs/NtfsRecord.h"
#include "tests/fs/ntfs/NtfsTestImage.h"
#include "tests/fs/ntfs/NtfsVolumeFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<u8>;
using ntfstest::RecordBuilder;
using ::testing::HasSubstr;
using ::testing::Not;

template <typename Write> std::string text(Write write) {
    std::ostringstream os;
    write(os);
    return os.str();
}

std::string dump(Bytes record) {
    return text([&](std::ostream& os) {
        dumpNtfsFileRecord(os, record.data(), static_cast<u32>(record.size()));
    });
}

ConstArray view(const std::string& s) {
    return ConstArray(reinterpret_cast<const u8*>(s.data()), static_cast<u32>(s.size()));
}

TEST(NtfsDumpTest, RunListsShowEveryKindOfRun) {
    EXPECT_EQ(runlistText({{100, 8, 8}}), "{100, 8} 8 clusters");
    EXPECT_EQ(runlistText({{100, 16, 16}, {116, 16, 4}, {116, 32, 0}}),
              "{100, 16} {116, 16 (compressed to 4)} {116, 32  (sparse)} 64 clusters");
    EXPECT_EQ(runlistText({{5, 0, 3}, {9, 16, 2}}),
              "{5, 0 (compressed chain 3)} {9, 16 (compressed to 2)} 16 clusters");
    EXPECT_EQ(runlistText({{5, 2, 3}}), "{5, 2, 3 (invalid)} 2 clusters");
    EXPECT_EQ(runlistText({{5, 1, 1}}), "{5, 1} 1 cluster");
    EXPECT_EQ(runlistText({}), "0 clusters");
}

TEST(NtfsDumpTest, SmallWriters) {
    EXPECT_EQ(text([](std::ostream& os) { writeDosAttributes(os, 0x21); }),
              "Attributes:\t Read-only, Archive");
    EXPECT_EQ(text([](std::ostream& os) { writeDosAttributes(os, 0x40000000); }),
              "Attributes:\t, Left:\t1073741824");
    EXPECT_EQ(text([](std::ostream& os) { writeDosAttributes(os, 0x10000800); }),
              "Attributes:\t Compressed, Directory");
    EXPECT_EQ(text([](std::ostream& os) { writeAttributeType(os, 0x110); }), "Type:\t272");
    EXPECT_EQ(text([](std::ostream& os) { writeAttributeType(os, 0x80); }), "Type:\tDATA");
    EXPECT_EQ(text([](std::ostream& os) { writeFileReference(os, 0x0003000000000005ull); }),
              "File Reference:\t5, Sequence Number:\t3\n");
    // Before 1970 there is no time to show; after it, a tab and the time.
    EXPECT_EQ(text([](std::ostream& os) { writeFileTime(os, 0); }), "0");
    EXPECT_THAT(text([](std::ostream& os) { writeFileTime(os, 132000000000000000ull); }),
                HasSubstr("132000000000000000\t"));
    // A name keeps its surrogate pairs.
    const std::string smile("\x3D\xD8\x00\xDE", 4);
    EXPECT_EQ(text([&](std::ostream& os) { writeUtf16Name(os, view(smile)); }), "\xF0\x9F\x98\x80");
}

TEST(NtfsDumpTest, AFileRecordWithItsAttributes) {
    const Bytes record =
        RecordBuilder()
            .resident(NTFS_ATTR_STANDARD_INFORMATION, std::string(72, '\0'))
            .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"notes.txt", 1, 0x20, 9000))
            .nonResident(NTFS_ATTR_DATA, {0x21, 0x03, 0x34, 0x12, 0x00}, 9000)
            .raw();
    const std::string out = dump(record);
    EXPECT_THAT(out, Not(HasSubstr("Invalid")));
    EXPECT_THAT(out, HasSubstr("Magic:\t'FILE'\nUpdate Sequence Offset:\t48, Size:\t3\n"));
    EXPECT_THAT(out, HasSubstr("Flags:\t In use\n"));
    EXPECT_THAT(out, HasSubstr("XP MFT Index:\t42\n"));
    EXPECT_THAT(out,
                HasSubstr("Attributes {\n\tAttribute Offset: 56\n\tType:\tSTANDARD_INFORMATION\n"));
    EXPECT_THAT(out, HasSubstr("\tStream {\n\t\tParent File Reference:\t5, Sequence Number:\t0\n"));
    EXPECT_THAT(out, HasSubstr("\t\tFile Namespace:\tWIN32\n\t\tFile Name:\t'notes.txt'\n"));
    EXPECT_THAT(out, HasSubstr("Runlist Offset:\t64\t{4660, 3} 3 clusters\n"));
    EXPECT_THAT(out, HasSubstr("Real Size:\t9000\n"));
    EXPECT_THAT(out, HasSubstr("\t$END\n}\n"));
    EXPECT_THAT(out, Not(HasSubstr("Out Of Range")));
}

TEST(NtfsDumpTest, DamageIsDescribedNotRefused) {
    // Not a FILE record: the fields and attributes still follow.
    Bytes notFile = RecordBuilder().resident(NTFS_ATTR_VOLUME_NAME, std::string("v\0", 2)).raw();
    notFile[0] = 'B';
    std::string out = dump(notFile);
    EXPECT_EQ(out.rfind("Invalid NTFS File Record\n", 0), 0u);
    EXPECT_THAT(out, HasSubstr("Magic:\t'BILE'"));
    EXPECT_THAT(out, HasSubstr("Volume Name:\t'v'"));

    // A torn sector, and a mapping-pairs array without its terminator.
    Bytes torn =
        RecordBuilder()
            .nonResident(NTFS_ATTR_DATA, {0x11, 0x04, 0x20, 0x11, 0x04, 0x20, 0x11, 0x04}, 1)
            .raw();
    torn[1022] = 0;
    out = dump(torn);
    EXPECT_THAT(out, HasSubstr("Invalid Update Sequence\n"));
    EXPECT_THAT(out, HasSubstr("Invalid Runlist:\t"));

    // An attribute whose length leaves the record.
    std::vector<u8> broken(24, 0);
    broken[0] = 0x80;
    broken[4] = 0xF0;
    broken[5] = 0x0F;
    out = dump(RecordBuilder().rawAttribute(broken).raw());
    EXPECT_THAT(out, HasSubstr("\n\tInvalid Attribute\n}\n"));

    // An update sequence at 0x2A: no record number to show.
    out = dump(RecordBuilder(2, 0x2A).raw());
    EXPECT_THAT(out, Not(HasSubstr("XP MFT Index")));
    EXPECT_THAT(out, HasSubstr("Next Attribute Instance:\t0\n"));

    // Shorter than a sector: described as far as it goes.
    Bytes stub(40, 0);
    stub[0] = 'F';
    out = dump(stub);
    EXPECT_THAT(out, HasSubstr("Invalid NTFS File Record\n"));
    EXPECT_THAT(out, HasSubstr("Out Of Range\n"));
}

// An attribute list value of the given entries.
std::string attributeListEntry(u32 type, u16 size, u64 record) {
    std::string e(std::max<u16>(size, 26), '\0');
    e[0] = static_cast<char>(type);
    e[4] = static_cast<char>(size);
    for (int i = 0; i < 6; ++i)
        e[16 + i] = static_cast<char>(record >> (8 * i));
    e.resize(size); // a damaged entry may be too short for its own fields
    return e;
}

TEST(NtfsDumpTest, AttributeListsAndTheirBadEntries) {
    const std::string list = attributeListEntry(0x10, 32, 9) + attributeListEntry(0x80, 20, 11);
    const std::string out = text([&](std::ostream& os) { writeAttributeList(os, view(list)); });
    EXPECT_THAT(out, HasSubstr("--- Entry Offset: 0, Size: 32 ---\nType:\tSTANDARD_INFORMATION\n"));
    EXPECT_THAT(out, HasSubstr("File Reference:\t9, Sequence Number:\t0\nInstance:\t0\n\n"));
    EXPECT_THAT(out, HasSubstr("--- Entry Offset: 32, Size: 20 ---\nError: Entry Size\n"));
}

// An index root over $FILE_NAME with the given entries.
std::string indexRoot(const std::string& entries) {
    std::string v(32, '\0');
    v[0] = 0x30;
    v[4] = 1;
    v[9] = 0x10; // 4096-byte blocks
    v[12] = 1;
    v[16] = 16; // entries right after the node header
    const u32 end = 16 + static_cast<u32>(entries.size());
    v[20] = static_cast<char>(end);
    v[21] = static_cast<char>(end >> 8);
    v[24] = v[20];
    v[25] = v[21];
    return v + entries;
}

std::string indexEntry(u64 record, const std::string& key, u8 flags) {
    std::string e(16, '\0');
    for (int i = 0; i < 6; ++i)
        e[i] = static_cast<char>(record >> (8 * i));
    const std::size_t size = (16 + key.size() + 7) / 8 * 8;
    e[8] = static_cast<char>(size);
    e[9] = static_cast<char>(size >> 8);
    e[10] = static_cast<char>(key.size());
    e[12] = static_cast<char>(flags);
    e += key;
    e.resize(size, '\0');
    return e;
}

TEST(NtfsDumpTest, IndexRootsListTheirEntries) {
    const std::string entries =
        indexEntry(64, RecordBuilder::fileName(5, u"a.txt"), 0) + indexEntry(0, "", 2);
    const std::string value = indexRoot(entries);
    std::string out = text([&](std::ostream& os) { writeIndexRoot(os, view(value)); });
    EXPECT_THAT(out, HasSubstr("Type:\tFILE_NAME\nCollation Rule:\t1\n"
                               "Index Allocation Entry Size:\t4096\n"
                               "Clusters Per Index Record:\t1\n"));
    EXPECT_THAT(out, HasSubstr("--- Entry Offset: 16, Size: 96 ---\n"
                               "File Reference:\t64, Sequence Number:\t0\n"));
    EXPECT_THAT(out, HasSubstr("File Name:\t'a.txt'\n"));
    EXPECT_THAT(out, HasSubstr("--- Entry Offset: 112, Size: 16 ---\n"));
    EXPECT_THAT(out, HasSubstr("Flags:\t2 last\n"));

    // Without its last entry the walk leaves the value: the resident value's
    // block ends with the range error.
    const Bytes record =
        RecordBuilder()
            .resident(NTFS_ATTR_INDEX_ROOT,
                      indexRoot(indexEntry(64, RecordBuilder::fileName(5, u"b"), 0)), u"$I30")
            .raw();
    out = dump(record);
    EXPECT_THAT(out, HasSubstr("File Name:\t'b'\n"));
    EXPECT_THAT(out, HasSubstr("\t}\n\n\tOut Of Range\n"));
    EXPECT_THAT(out, HasSubstr("$END"));
}

TEST(NtfsDumpTest, HostileRecordsNeverThrowOutOfTheDump) {
    const Bytes record =
        RecordBuilder()
            .resident(NTFS_ATTR_STANDARD_INFORMATION, std::string(72, '\0'))
            .resident(NTFS_ATTR_ATTRIBUTE_LIST,
                      attributeListEntry(0x30, 32, 1) + attributeListEntry(0x80, 40, 2))
            .resident(NTFS_ATTR_FILE_NAME, RecordBuilder::fileName(5, u"x"))
            .resident(NTFS_ATTR_INDEX_ROOT,
                      indexRoot(indexEntry(64, RecordBuilder::fileName(5, u"y"), 1) +
                                indexEntry(0, std::string(8, '\0'), 3)),
                      u"$I30")
            .nonResident(NTFS_ATTR_DATA, {0x21, 0x10, 0x00, 0x01, 0x01, 0x10, 0x00}, 65536, 0, 4, 1)
            .raw();
    std::mt19937 random(3);
    for (int i = 0; i < 5000; ++i) {
        Bytes damaged = record;
        for (int k = 0; k < 1 + i % 6; ++k)
            damaged[random() % damaged.size()] = static_cast<u8>(random());
        EXPECT_NO_THROW(dump(damaged));
    }
}

TEST(NtfsDumpRealTest, RecordsOfARealVolume) {
    ntfstest::Volume v(32u << 20, 4096);
    v.add("report.txt", ntfstest::textContent(20000, 1));
    ntfstest::Image image(v.image());
    std::string out = dump(image.rawRecord(0));
    EXPECT_THAT(out, Not(HasSubstr("Invalid")));
    EXPECT_THAT(out, HasSubstr("File Name:\t'$MFT'\n"));
    EXPECT_THAT(out, HasSubstr("Runlist Offset:\t64\t{" + std::to_string(image.mftLcn()) + ", "));
    out = dump(image.rawRecord(3));
    EXPECT_THAT(out, HasSubstr("Type:\tVOLUME_INFORMATION\n"));
    EXPECT_THAT(out, HasSubstr("Volume Name:\t''"));
    out = dump(image.rawRecord(5));
    EXPECT_THAT(out, HasSubstr("File Name:\t'.'\n"));
    EXPECT_THAT(out, HasSubstr("Type:\tINDEX_ROOT\n"));
    out = dump(image.rawRecord(image.findRecord("report.txt")));
    EXPECT_THAT(out, HasSubstr("File Name:\t'report.txt'\n"));
    EXPECT_THAT(out, HasSubstr("Real Size:\t20000\n"));
    EXPECT_THAT(out, Not(HasSubstr("Out Of Range")));
}

} // namespace
