// FILE records and INDX blocks as they come off a damaged disk: the header
// checks, the fix-ups (of torn records too), the attribute walk with every
// value and run list it names, then the properties each step promises.

#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/Runlist.h"
#include "fuzz/FuzzSupport.h"

namespace {

using fuzzsupport::require;

constexpr std::size_t MAX_RECORD = 64 * 1024;

Array arrayOf(std::vector<u8>& b) {
    return Array(b.data(), static_cast<u32>(b.size()));
}

void walkAttributes(const ConstArray& area, u32 first) {
    NtfsAttributeWalk walk(area, first);
    AttributeHeader h;
    u32 steps = 0;
    while (walk.next(h) == NtfsAttributeWalk::ATTRIBUTE) {
        // Each attribute lies inside the area and moves the walk on by at least
        // a fixed header, so the walk ends.
        require(++steps <= area.length() / 24);
        require(h.offset <= area.length() && h.length <= area.length() - h.offset);
        require(h.headerSize >= 24 && h.headerSize <= h.length);
        const NtfsAttributeParser& p = walk.parser();
        p.attribute(h);
        p.name(h);
        if (h.resident) {
            ResidentValue v;
            if (p.parseResidentValue(v, h)) {
                const ConstArray value = p.value(h, v);
                require(value.length() == v.valueLength);
            }
        } else {
            NonResidentValue v;
            if (p.parseNonResidentValue(v, h)) {
                require(v.runlistOffset + v.runlistLength == h.length);
                RunlistParser runs(v.compressed, u64{1} << 24);
                if (runs.parse(p.mappingPairs(h, v)) && runs.finish())
                    require(getRunlistClusters(runs.getRunlist()) == runs.getParsedClusters());
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Shorter buffers are refused by construction (a broken invariant).
    if (size < NTFS_RECORD_SECTOR || size > MAX_RECORD)
        return 0;
    const std::vector<u8> raw(data, data + size);

    // Exactly sized, so that a read past the end meets the address sanitizer.
    std::vector<u8> record = raw;
    NtfsFileRecordParser parser(ConstArray(record.data(), static_cast<u32>(size)));
    FileRecordHeader header;
    const bool headerOk = parser.checkFileHeader(header);
    parser.storedRecordNumber();
    u32 torn = 0;
    if (NtfsRecordParser::applyFixupsOfTorn(arrayOf(record), torn)) {
        require(torn <= parser.sectorCount() || !headerOk);
        // Only the sector tails change.
        for (std::size_t i = 0; i < size; ++i)
            require(record[i] == raw[i] || i % NTFS_RECORD_SECTOR >= NTFS_RECORD_SECTOR - 2);
        // Taken whole, the record is refused when torn and keeps its bytes.
        std::vector<u8> whole = raw;
        require(NtfsRecordParser::applyFixups(arrayOf(whole)) == (torn == 0));
        require(whole == (torn == 0 ? record : raw));
        if (torn == 0) {
            // Undoing gives back the bytes read.
            std::vector<u8> again = record;
            require(NtfsRecordParser::undoFixups(arrayOf(again)));
            require(again == raw);
        }
        if (headerOk) {
            require(header.firstAttributeOffset < header.bytesInUse);
            require(header.bytesInUse <= parser.sectorCount() * NTFS_RECORD_SECTOR);
            walkAttributes(parser.attributeArea(header),
                           static_cast<u32>(header.firstAttributeOffset));
        }
    } else {
        // A refused record keeps its bytes, and is refused whole as well.
        require(record == raw);
        std::vector<u8> whole = raw;
        require(!NtfsRecordParser::applyFixups(arrayOf(whole)) && whole == raw);
    }

    std::vector<u8> block = raw;
    NtfsIndexRecordParser index(ConstArray(block.data(), static_cast<u32>(size)));
    u64 vcn = 0;
    if (index.checkIndexHeader(vcn))
        require(index.sectorCount() == 1 || index.sectorCount() == 2 || index.sectorCount() == 4 ||
                index.sectorCount() == 8);
    return 0;
}
