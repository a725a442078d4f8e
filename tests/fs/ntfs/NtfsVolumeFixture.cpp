#include "tests/fs/ntfs/NtfsVolumeFixture.h"

#include "devices/DtReaderFile.h"
#include "fs/Params.h"
#include "tests/support/FailingReader.h"

#include <algorithm>
#include <random>
#include <stdexcept>

namespace ntfstest {

std::string textContent(std::size_t size, unsigned seed) {
    static const char* const words[] = {"alpha ",   "beta ",      "gamma ",   "delta\n",
                                        "epsilon ", "recovered ", "cluster ", "record "};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < size)
        text += words[random() % 8];
    text.resize(size);
    return text;
}

std::string randomContent(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

Volume::Volume(u64 bytes, u32 clusterSize, bool compressed) : image_(dir_.file("v.img")) {
    if (!makeVolume(image_, bytes, clusterSize, compressed))
        throw std::runtime_error("mkntfs failed for " + image_);
}

void Volume::add(const std::string& name, const std::string& content) {
    close();
    const std::string host = dir_.file("in" + std::to_string(added_++));
    testutil::writeAll(host, content);
    if (!copyIn(image_, host, name))
        throw std::runtime_error("ntfscp failed for " + name);
}

MemoryVolume::MemoryVolume(const std::string& bytes, u64 sectorsPerCluster, u32 startLba,
                           const std::vector<u64>& bad)
    : reader(new testutil::FailingReader(SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes)),
                                         bad)),
      driver(new Driver(SharedPtr<dt::Reader>(reader), 512)) {
    NTFS_FS_PARAMS params;
    params.startingLBA = startLba;
    params.totalSectors = bytes.size() / 512 - startLba;
    params.sectorsPerCluster = sectorsPerCluster;
    params.mftLCN = 1;
    params.sectorsPerFileRecord = 2;
    drive.reset(new NTFSDrive(driver, params, &unreadable));
}

u64 Volume::recordOf(const std::string& name) {
    if (!parsed_)
        parsed_.reset(new Image(image_));
    const u64 record = parsed_->findRecord(name);
    if (record == ~u64{0})
        throw std::runtime_error("no record for " + name);
    return record;
}

void Volume::tool(const std::string& commandWithImage) {
    close();
    std::string command = commandWithImage;
    const std::string quoted = testutil::shellQuote(image_);
    for (std::string::size_type at = command.find("IMAGE"); at != std::string::npos;
         at = command.find("IMAGE", at + quoted.size()))
        command.replace(at, 5, quoted);
    if (runTool(command + " >/dev/null") != 0)
        throw std::runtime_error("failed: " + command);
}

void Volume::close() {
    drive_.reset();
    parsed_.reset();
    records_.clear();
}

NTFSDrive& Volume::drive(const std::vector<u64>& bad) {
    drive_.reset();
    auto* file = new dt::ReaderFile;
    SharedPtr<dt::Reader> reader(file);
    if (!file->open(image_.c_str()))
        throw std::runtime_error("cannot open " + image_);
    if (!bad.empty())
        reader.reset(new testutil::FailingReader(reader, bad));
    SharedPtr<Driver> driver(new Driver(reader, 512));
    u8 boot[512];
    NTFS_FS_PARAMS params;
    if (!driver->readSectors(0, 1, boot) ||
        !ntfsFsParamsFromBootSector(0, boot, params, driver->getSectorCount()))
        throw std::runtime_error("no NTFS boot sector in " + image_);
    unreadable_.reset(new UnreadableSectors);
    for (u64 lba : bad)
        unreadable_->runs().push_back(SectorRun{static_cast<u32>(lba), 1});
    drive_.reset(new NTFSDrive(driver, params, unreadable_.get()));
    return *drive_;
}

NtfsAttributeData Volume::data(const std::string& name) {
    if (!parsed_)
        parsed_.reset(new Image(image_));
    if (!drive_)
        drive();
    const u64 record = recordOf(name);
    NtfsAttributeData out;
    std::vector<u8> base = parsed_->rawRecord(record);
    bool resident = false;
    walkRecord(
        base, [&](const NtfsAttributeParser& p, const AttributeHeader& h, const FileRecordHeader&) {
            ResidentValue v;
            if (h.type != NTFS_ATTR_DATA || h.nameLength != 0 || !h.resident ||
                !p.parseResidentValue(v, h))
                return;
            resident = true;
            out.resident = true;
            out.size = v.valueLength;
            out.recordNumber = record;
            out.valueOffset = h.offset + v.valueOffset;
        });
    if (resident) {
        records_[record] = base; // fix-ups applied by the walk
        return out;
    }
    std::vector<DataAttribute> extents;
    if (!parsed_->dataExtents(record, extents))
        throw std::runtime_error("no $DATA for " + name);
    RunlistParser parser(extents.front().value.compressed, drive_->getClusterCount());
    for (const DataAttribute& e : extents) {
        if (!parser.parse(e.mappingPairs.data(), static_cast<u32>(e.mappingPairs.size())))
            throw std::runtime_error("run list of " + name + " does not parse");
    }
    if (!parser.finish())
        throw std::runtime_error("run list of " + name + " does not finish");
    out.size = extents.front().value.dataSize;
    out.initializedSize = extents.front().value.initializedSize;
    out.runs = parser.getRunlist();
    return out;
}

std::string Volume::ntfscat(const std::string& name) const {
    std::string out;
    if (runTool("ntfscat " + testutil::shellQuote(image_) + " " + testutil::shellQuote(name),
                &out) != 0)
        throw std::runtime_error("ntfscat failed for " + name);
    return out;
}

std::string Volume::stream(const NtfsAttributeData& data, bool* ok) {
    std::string out(static_cast<std::size_t>(data.size), '\0');
    ntfs::BufferDataReader reader(drive_ ? *drive_ : drive(), this, reinterpret_cast<u8*>(&out[0]),
                                  data.size);
    const bool result = reader.read(data);
    if (ok != nullptr)
        *ok = result;
    if (reader.getWritten() != data.size)
        throw std::runtime_error("the reader wrote " + std::to_string(reader.getWritten()) +
                                 " of " + std::to_string(data.size) + " bytes");
    return out;
}

namespace {

u32 align8(u32 n) {
    return (n + 7) & ~7u;
}

void put(std::vector<u8>& b, u32 at, u64 value, u32 width) {
    for (u32 i = 0; i < width; ++i)
        b[at + i] = static_cast<u8>(value >> (8 * i));
}

} // namespace

RecordBuilder::RecordBuilder(u32 sectors, u16 usaOffset, u16 flags)
    : bytes_(sectors * 512, 0), sectors_(sectors) {
    std::copy_n("FILE", 4, bytes_.begin());
    put(bytes_, 0x04, usaOffset, 2);
    put(bytes_, 0x06, sectors + 1, 2);
    put(bytes_, 0x10, 1, 2); // sequence number
    put(bytes_, 0x12, 1, 2); // links
    put(bytes_, 0x16, flags, 2);
    put(bytes_, 0x1C, sectors * 512, 4);
    put(bytes_, 0x2C, 42, 4); // the record's own number
    next_ = align8(usaOffset + 2 + 2 * sectors);
    put(bytes_, 0x14, next_, 2);
}

RecordBuilder& RecordBuilder::rawAttribute(const std::vector<u8>& bytes) {
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + next_);
    next_ += align8(static_cast<u32>(bytes.size()));
    return *this;
}

RecordBuilder& RecordBuilder::resident(u32 type, const std::string& value,
                                       const std::u16string& name) {
    const u32 nameBytes = 2 * static_cast<u32>(name.size());
    const u32 valueOffset = align8(24 + nameBytes);
    std::vector<u8> a(align8(valueOffset + static_cast<u32>(value.size())), 0);
    put(a, 0x00, type, 4);
    put(a, 0x04, a.size(), 4);
    put(a, 0x09, name.size(), 1);
    put(a, 0x0A, 24, 2);
    put(a, 0x0E, instance_++, 2);
    put(a, 0x10, value.size(), 4);
    put(a, 0x14, valueOffset, 2);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(a, 24 + 2 * static_cast<u32>(i), name[i], 2);
    std::copy(value.begin(), value.end(), a.begin() + valueOffset);
    return rawAttribute(a);
}

RecordBuilder& RecordBuilder::nonResident(u32 type, const std::vector<u8>& pairs, u64 dataSize,
                                          u64 startVcn, u8 compressionUnit, u16 flags,
                                          const std::u16string& name) {
    const u32 header = compressionUnit != 0 ? 72 : 64;
    const u32 nameBytes = 2 * static_cast<u32>(name.size());
    const u32 pairsOffset = align8(header + nameBytes);
    std::vector<u8> a(align8(pairsOffset + static_cast<u32>(pairs.size())), 0);
    put(a, 0x00, type, 4);
    put(a, 0x04, a.size(), 4);
    put(a, 0x08, 1, 1);
    put(a, 0x09, name.size(), 1);
    put(a, 0x0A, header, 2);
    put(a, 0x0C, flags, 2);
    put(a, 0x0E, instance_++, 2);
    put(a, 0x10, startVcn, 8);
    put(a, 0x18, startVcn + (dataSize + 4095) / 4096, 8);
    put(a, 0x20, pairsOffset, 2);
    put(a, 0x22, compressionUnit, 1);
    put(a, 0x28, (dataSize + 4095) / 4096 * 4096, 8);
    put(a, 0x30, dataSize, 8);
    put(a, 0x38, dataSize, 8);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(a, header + 2 * static_cast<u32>(i), name[i], 2);
    std::copy(pairs.begin(), pairs.end(), a.begin() + pairsOffset);
    return rawAttribute(a);
}

std::vector<u8> RecordBuilder::raw() const {
    std::vector<u8> b = bytes_;
    put(b, next_, 0xFFFFFFFF, 4);
    put(b, 0x18, next_ + 8, 4);
    put(b, 0x28, instance_, 2);
    const u32 usa = b[4] | b[5] << 8;
    const u16 number = 0x0101;
    put(b, usa, number, 2);
    for (u32 i = 0; i < sectors_; ++i) {
        const u32 tail = 510 + 512 * i;
        put(b, usa + 2 + 2 * i, b[tail] | b[tail + 1] << 8, 2);
        put(b, tail, number, 2);
    }
    return b;
}

std::string RecordBuilder::fileName(u64 parent, const std::u16string& name, u8 nameSpace, u32 flags,
                                    u64 size) {
    std::vector<u8> v(66 + 2 * name.size(), 0);
    put(v, 0x00, parent, 8);
    for (u32 t = 0; t < 4; ++t)
        put(v, 0x08 + 8 * t, 132000000000000000ull + t, 8); // 2019
    put(v, 0x28, (size + 4095) / 4096 * 4096, 8);
    put(v, 0x30, size, 8);
    put(v, 0x38, flags, 4);
    put(v, 0x40, name.size(), 1);
    put(v, 0x41, nameSpace, 1);
    for (std::size_t i = 0; i < name.size(); ++i)
        put(v, 66 + 2 * static_cast<u32>(i), name[i], 2);
    return std::string(v.begin(), v.end());
}

::testing::AssertionResult sameBytes(const std::string& got, const std::string& want) {
    if (got == want)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    const std::size_t from = at & ~std::size_t{15};
    auto around = [&](const std::string& s) {
        return from >= s.size()
                   ? std::string("(ends)\n")
                   : testutil::hexDump(s.data() + from, std::min<std::size_t>(64, s.size() - from));
    };
    return ::testing::AssertionFailure()
           << "sizes " << got.size() << " and " << want.size() << ", first difference at " << at
           << "\ngot (from " << from << "):\n"
           << around(got) << "want:\n"
           << around(want);
}

ConstArray Volume::getRecordArray(u64 record) const {
    const auto it = records_.find(record);
    if (it == records_.end())
        throw std::runtime_error("record " + std::to_string(record) + " not loaded");
    return ConstArray(it->second.data(), static_cast<u32>(it->second.size()));
}

} // namespace ntfstest
