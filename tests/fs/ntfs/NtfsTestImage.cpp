#include "tests/fs/ntfs/NtfsTestImage.h"

#include "tests/support/TestUtil.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

namespace ntfstest {

using testutil::shellQuote;

int runTool(const std::string& command, std::string* out) {
    std::string err;
    return testutil::run("PATH=\"$PATH:/usr/sbin:/sbin\"; " + command, out, &err);
}

bool makeVolume(const std::string& path, u64 bytes, u32 clusterSize, bool compressed) {
    std::string cmd = "truncate -s " + std::to_string(bytes) + " " + shellQuote(path) +
                      " && mkntfs -F -Q -q -c " + std::to_string(clusterSize) +
                      (compressed ? " -C " : " ") + shellQuote(path);
    return runTool(cmd) == 0;
}

bool copyIn(const std::string& image, const std::string& hostFile, const std::string& name) {
    return runTool("ntfscp " + shellQuote(image) + " " + shellQuote(hostFile) + " " +
                   shellQuote(name)) == 0;
}

bool infoRunlist(const std::string& image, const std::string& name, std::vector<InfoRun>& runs) {
    std::string out;
    if (runTool("ntfsinfo -v -F " + shellQuote("/" + name) + " " + shellQuote(image), &out) != 0)
        return false;
    // One table per extent of $DATA; an extension's table starts with the VCNs
    // of the extents before it as not mapped.
    std::istringstream in(out);
    std::string line;
    bool inData = false;
    bool inTable = false;
    runs.clear();
    while (std::getline(in, line)) {
        if (line.rfind("Dumping attribute ", 0) == 0) {
            inData = line.rfind("Dumping attribute $DATA ", 0) == 0;
            inTable = false;
            continue;
        }
        if (inData && line.find("Runlist:") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable)
            continue;
        std::istringstream fields(line);
        std::string vcn, lcn, length;
        if (!(fields >> vcn >> lcn >> length) || vcn.rfind("0x", 0) != 0) {
            inTable = false;
            continue;
        }
        if (lcn == "<RL_NOT_MAPPED>")
            continue;
        InfoRun r;
        r.vcn = std::stoull(vcn, nullptr, 16);
        r.lcn = lcn == "<HOLE>" ? -1 : static_cast<i64>(std::stoull(lcn, nullptr, 16));
        r.length = std::stoull(length, nullptr, 16);
        runs.push_back(r);
    }
    return !runs.empty();
}

VcnMap vcnMapOf(const std::vector<InfoRun>& runs) {
    VcnMap map;
    for (const InfoRun& r : runs) {
        if (r.vcn != map.size())
            throw std::runtime_error("ntfsinfo runs out of order");
        for (u64 i = 0; i < r.length; ++i)
            map.push_back(r.lcn < 0 ? -1 : r.lcn + static_cast<i64>(i));
    }
    return map;
}

VcnMap vcnMapOf(const Runlist& runs) {
    constexpr i64 INVALID = -2;
    VcnMap map;
    std::vector<i64> unit; // stored clusters of the compression unit being read
    for (const NtfsRun& r : runs) {
        if (r.isPlain() && unit.empty()) {
            for (u64 i = 0; i < r.clusters; ++i)
                map.push_back(static_cast<i64>(r.lcn + i));
        } else if (r.isSparse() && unit.empty()) {
            map.insert(map.end(), r.clusters, -1);
        } else if (r.isCompressed()) {
            for (u64 i = 0; i < r.storedClusters; ++i)
                unit.push_back(static_cast<i64>(r.lcn + i));
            if (r.clusters != 0) {
                if (unit.size() > r.clusters)
                    unit.assign(1, INVALID); // more stored than the unit holds
                else
                    unit.resize(r.clusters, -1);
                map.insert(map.end(), unit.begin(), unit.end());
                unit.clear();
            }
        } else {
            map.insert(map.end(), r.clusters == 0 ? 1 : r.clusters, INVALID);
        }
    }
    if (!unit.empty())
        map.push_back(INVALID);
    return map;
}

Image::Image(const std::string& path) {
    const std::string raw = testutil::readAll(path);
    bytes_.assign(raw.begin(), raw.end());
    const ConstArray boot(bytes_.data(), 512);
    clusterSize_ = boot.getLE16(0x0B) * boot.getU8(0x0D);
    mftLcn_ = boot.getLE64(0x30);
    const i8 perRecord = static_cast<i8>(boot.getU8(0x40));
    recordSize_ = perRecord < 0 ? 1u << -perRecord : perRecord * clusterSize_;

    // Record 0 lies at the MFT's first cluster; its $DATA maps the rest.
    std::vector<u8> zero(bytes_.begin() + static_cast<std::ptrdiff_t>(mftLcn_ * clusterSize_),
                         bytes_.begin() +
                             static_cast<std::ptrdiff_t>(mftLcn_ * clusterSize_ + recordSize_));
    bool found = false;
    walkRecord(
        zero, [&](const NtfsAttributeParser& p, const AttributeHeader& h, const FileRecordHeader&) {
            NonResidentValue v;
            if (h.type != NTFS_ATTR_DATA || h.nameLength != 0 || h.resident ||
                !p.parseNonResidentValue(v, h))
                return;
            RunlistParser parser;
            found = parser.parse(p.mappingPairs(h, v)) && parser.finish();
            mftRuns_ = parser.getRunlist();
        });
    if (!found)
        throw std::runtime_error("no MFT run list in " + path);
    mftMap_ = vcnMapOf(mftRuns_);
}

std::vector<u8> Image::readMapped(const VcnMap& map, u64 offset, u64 size) const {
    std::vector<u8> out(size);
    for (u64 done = 0; done < size;) {
        const u64 pos = offset + done;
        const u64 vcn = pos / clusterSize_;
        const u64 within = pos % clusterSize_;
        const u64 n = std::min<u64>(clusterSize_ - within, size - done);
        if (vcn >= map.size() || map[vcn] < -1)
            throw std::runtime_error("read outside the map");
        if (map[vcn] >= 0) {
            const u64 at = static_cast<u64>(map[vcn]) * clusterSize_ + within;
            if (at + n > bytes_.size())
                throw std::runtime_error("read outside the image");
            std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes_.begin() + static_cast<std::ptrdiff_t>(at + n),
                      out.begin() + static_cast<std::ptrdiff_t>(done));
        }
        done += n;
    }
    return out;
}

std::vector<u8> Image::clusters(u64 lcn, u64 count) const {
    const u64 at = lcn * clusterSize_;
    const u64 n = count * clusterSize_;
    if (at + n > bytes_.size())
        throw std::runtime_error("clusters outside the image");
    return std::vector<u8>(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes_.begin() + static_cast<std::ptrdiff_t>(at + n));
}

std::vector<u8> Image::rawRecord(u64 n) const {
    return readMapped(mftMap_, n * recordSize_, recordSize_);
}

u64 Image::recordCount() const {
    return mftMap_.size() * clusterSize_ / recordSize_;
}

u64 Image::findRecord(const std::string& name) const {
    for (u64 n = 0; n < recordCount(); ++n) {
        std::vector<u8> record = rawRecord(n);
        u64 base = ~u64{0};
        walkRecord(record, [&](const NtfsAttributeParser& p, const AttributeHeader& h,
                               const FileRecordHeader& fh) {
            ResidentValue v;
            if (base != ~u64{0} || !fh.inUse || h.type != NTFS_ATTR_FILE_NAME ||
                !p.parseResidentValue(v, h) || v.valueLength < 66)
                return;
            const ConstArray value = p.value(h, v);
            const u32 units = value.getU8(64);
            if (units != name.size() || 66 + 2 * units > value.length())
                return;
            for (u32 i = 0; i < units; ++i) {
                if (value.getLE16(66 + 2 * i) != static_cast<u8>(name[i]))
                    return;
            }
            // The name may sit in an extension record of the file.
            base = fh.baseRecord != 0 ? fh.baseRecord : n;
        });
        if (base != ~u64{0})
            return base;
    }
    return ~u64{0};
}

bool Image::dataExtents(u64 n, std::vector<DataAttribute>& extents) const {
    extents.clear();
    for (u64 r = 0; r < recordCount(); ++r) {
        std::vector<u8> record = rawRecord(r);
        walkRecord(record, [&](const NtfsAttributeParser& p, const AttributeHeader& h,
                               const FileRecordHeader& fh) {
            DataAttribute data;
            if (!fh.inUse || (r != n && fh.baseRecord != n) || h.type != NTFS_ATTR_DATA ||
                h.nameLength != 0 || h.resident || !p.parseNonResidentValue(data.value, h))
                return;
            data.header = h;
            const ConstArray pairs = p.mappingPairs(h, data.value);
            data.mappingPairs.assign(pairs.data(), pairs.data() + pairs.length());
            extents.push_back(data);
        });
    }
    std::sort(extents.begin(), extents.end(), [](const DataAttribute& a, const DataAttribute& b) {
        return a.header.startingVcn < b.header.startingVcn;
    });
    return !extents.empty();
}

} // namespace ntfstest
