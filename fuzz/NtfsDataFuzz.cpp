// Attribute data read through damaged run lists on a small volume in memory, and
// damaged FILE records through the probe, the dirty-flag repair and the dump.
//
// Input: a mode byte. Bit 7 clear (data): bit 0 compressed attribute, bits 1-2
// the cluster size (1, 2, 4 or 8 sectors), bits 3-4 how the initialized size is
// chosen; then a byte n and n bytes of mapping pairs; then two bytes of the data
// size; the rest fills the volume's sectors and chooses the ranges read. Bit 7
// set (record): the rest is a FILE record and what follows it in the window.

#include "fs/ntfs/DataReader.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NtfsDumps.h"
#include "fs/ntfs/RunlistReader.h"
#include "fs/ntfs/VolumeHelpers.h"
#include "fuzz/FuzzSupport.h"

#include <array>
#include <cstring>

namespace {

using fuzzsupport::require;

constexpr u64 VOLUME_SECTORS = 256;

class Counter : public ntfs::BaseDataReader {
public:
    using BaseDataReader::BaseDataReader;
    void write(const u8*, u32 length) override {
        require(length <= 16 * 8 * 512);
        written += length;
    }
    u64 written = 0;
};

void fuzzData(const u8* data, std::size_t size) {
    const u8 mode = data[0];
    const bool compressed = (mode & 1) != 0;
    const u64 spc = u64{1} << ((mode >> 1) & 3);
    std::size_t pos = 1;
    if (pos >= size)
        return;
    const std::size_t pairsLength = std::min<std::size_t>(data[pos], size - pos - 1);
    ++pos;
    // Exactly sized, so that a read past the array meets the address sanitizer.
    const std::vector<u8> pairs(data + pos, data + pos + pairsLength);
    pos += pairsLength;
    u64 dataSize = 0;
    if (pos + 2 <= size) {
        dataSize = getLE16(data, pos);
        pos += 2;
    }
    std::vector<u8> volume(VOLUME_SECTORS * 512);
    for (std::size_t i = 0; pos < size && i < volume.size(); ++i)
        volume[i] = data[pos + i % (size - pos)];

    // No read may leave the volume.
    SharedPtr<Driver> driver =
        fuzzsupport::driverOver(new fuzzsupport::InputReader(volume.data(), volume.size()));
    NTFS_FS_PARAMS params;
    params.totalSectors = VOLUME_SECTORS;
    params.sectorsPerCluster = spc;
    params.mftLCN = 1;
    params.sectorsPerFileRecord = 2;
    NTFSDrive drive(driver, params, nullptr);

    // Lists that do not parse whole still reach the reader half-built.
    RunlistParser parser(compressed,
                         (mode & 0x20) != 0 ? RunlistParser::ANY_VOLUME : drive.getClusterCount());
    if (parser.parse(pairs.data(), static_cast<u32>(pairs.size())))
        parser.finish();
    const Runlist& runs = parser.getRunlist();
    const u64 initialized =
        std::array<u64, 4>{RunlistReader::ALL_INITIALIZED, dataSize / 2, dataSize * 7,
                           RunlistReader::ALL_INITIALIZED}[(mode >> 3) & 3];

    RunlistReader ranges(drive);
    if (ranges.setRunlist(runs, initialized)) {
        const u64 total = ranges.getSectorCount();
        std::vector<u8> buffer(64 * 512);
        for (std::size_t i = 0; i + 1 < pairs.size() && i < 16; i += 2) {
            const u64 first = total == 0 ? pairs[i] : pairs[i] % (total + 2);
            ranges.read(first, 1 + pairs[i + 1] % 64, buffer.data());
        }
    }

    NtfsAttributeData attribute;
    attribute.size = dataSize * 37;
    attribute.runs = runs;
    attribute.initializedSize = initialized;
    Counter stream(drive, nullptr);
    const u64 covered = stream.getRunlistReader().setRunlist(runs)
                            ? stream.getRunlistReader().getSectorCount() * 512
                            : 0;
    const bool readAll = stream.read(attribute);
    require(stream.written == (attribute.size <= covered ? attribute.size : 0));
    require(!readAll || attribute.size <= covered);
    ntfs::BaseDataReader::hasUnreadableData(drive, attribute, 5);
    runlistText(runs);
}

void fuzzRecord(const u8* data, std::size_t size) {
    const std::vector<u8> original(data, data + size);
    NtfsSystemRecordInfo info;
    u16 sectors = 0;
    if (probeNtfsFileRecord(original.data(), static_cast<u32>(original.size()), info, sectors))
        require(sectors == 1 || sectors == 2 || sectors == 4 || sectors == 8);
    require(std::memcmp(original.data(), data, size) == 0);

    std::vector<u8> repaired = original;
    if (!clear_NTFS_chkdsk_flag(repaired.data(), static_cast<u32>(repaired.size())))
        require(repaired == original);

    std::vector<u8> dumped = original;
    std::ostringstream text;
    dumpNtfsFileRecord(text, dumped.data(), static_cast<u32>(dumped.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 8192)
        return 0;
    if ((data[0] & 0x80) != 0)
        fuzzRecord(data + 1, size - 1);
    else
        fuzzData(data, size);
    return 0;
}
