#pragma once

// NTFS volumes for the record, run-list and LZNT1 tests: made by mkntfs in a
// temporary folder, filled with ntfs-3g's own tools, then read whole into memory
// and taken apart with the parsers under test. ntfsinfo's view of the same files
// is parsed too, so that our decoding can be compared with the reference's.

#include "fs/ntfs/NtfsRecord.h"
#include "fs/ntfs/Runlist.h"

#include <string>
#include <vector>

namespace ntfstest {

// One mapping of ntfsinfo's "Runlist:" table: VCN, LCN (-1 for a hole), length.
struct InfoRun {
    u64 vcn;
    i64 lcn;
    u64 length;
};

// The cluster behind each VCN of an attribute; -1 where it reads as zeros.
using VcnMap = std::vector<i64>;

// Runs a command with /usr/sbin on the path (mkntfs, ntfscp live there); fails the
// calling test through the returned status.
int runTool(const std::string& command, std::string* out = nullptr);

// A fresh volume of `bytes` bytes at `path`: mkntfs -F -Q with the cluster size,
// and -C (compression allowed, files created compressed) when asked.
bool makeVolume(const std::string& path, u64 bytes, u32 clusterSize, bool compressed);
// ntfscp of a host file into the volume's root.
bool copyIn(const std::string& image, const std::string& hostFile, const std::string& name);
// The $DATA run table that ntfsinfo prints for /name.
bool infoRunlist(const std::string& image, const std::string& name, std::vector<InfoRun>& runs);
VcnMap vcnMapOf(const std::vector<InfoRun>& runs);

// Our reading of a run list as a VCN map: plain runs cluster by cluster, sparse
// runs as holes, and a compression unit as its stored clusters first, then holes
// up to its 16 clusters.
VcnMap vcnMapOf(const Runlist& runs);

struct DataAttribute {
    AttributeHeader header;
    NonResidentValue value;
    std::vector<u8> mappingPairs;
};

class Image {
public:
    explicit Image(const std::string& path);

    u32 clusterSize() const { return clusterSize_; }
    u32 recordSize() const { return recordSize_; }
    u64 mftLcn() const { return mftLcn_; }
    const std::vector<u8>& bytes() const { return bytes_; }
    const Runlist& mftRunlist() const { return mftRuns_; }

    // The raw record n of the MFT (fix-ups not applied).
    std::vector<u8> rawRecord(u64 n) const;
    u64 recordCount() const;
    // The base record of the file in use whose $FILE_NAME is `name` (ASCII), or
    // all ones.
    u64 findRecord(const std::string& name) const;
    // The extents of the unnamed non-resident $DATA of base record n, from the
    // record and its extension records, in VCN order.
    bool dataExtents(u64 n, std::vector<DataAttribute>& extents) const;
    // Bytes of plain (uncompressed) data through a VCN map; holes read as zeros.
    std::vector<u8> readMapped(const VcnMap& map, u64 offset, u64 size) const;
    // `count` clusters from `lcn`.
    std::vector<u8> clusters(u64 lcn, u64 count) const;

private:
    std::vector<u8> bytes_;
    u32 clusterSize_ = 0;
    u32 recordSize_ = 0;
    u64 mftLcn_ = 0;
    Runlist mftRuns_;
    VcnMap mftMap_;
};

// Applies the fix-ups and walks the attributes of a record; calls `visit` for each
// attribute with the parser over the bytes in use. False when the record does not
// parse or the walk does not end at the end marker.
template <typename Visit> bool walkRecord(std::vector<u8>& record, Visit visit) {
    NtfsFileRecordParser parser(ConstArray(record.data(), static_cast<u32>(record.size())));
    FileRecordHeader fh;
    if (!parser.checkFileHeader(fh) ||
        !NtfsRecordParser::applyFixups(Array(record.data(), static_cast<u32>(record.size()))))
        return false;
    NtfsAttributeWalk walk(parser.attributeArea(fh), static_cast<u32>(fh.firstAttributeOffset));
    AttributeHeader h;
    NtfsAttributeWalk::Step step;
    while ((step = walk.next(h)) == NtfsAttributeWalk::ATTRIBUTE)
        visit(walk.parser(), h, fh);
    return step == NtfsAttributeWalk::END;
}

} // namespace ntfstest
