// Mapping-pairs arrays as they come off a damaged disk: one to four arrays of an
// attribute, compressed or not, on a volume of a given size or of any size, then
// the properties every decoded list must have.
//
// Input: a mode byte (bit 0 compressed, bit 1 a 4096-cluster volume, bits 2-3
// the number of arrays less one), then the arrays' bytes cut into equal parts.

#include "fs/ntfs/Runlist.h"
#include "fuzz/FuzzSupport.h"

namespace {

using fuzzsupport::require;

// A reader meets only runs it knows, and a compression unit's pieces always end
// in the piece that carries its 16 clusters and holds fewer than 16 stored.
void checkRuns(const Runlist& runs, bool compressed, u64 volume) {
    u64 unitStored = 0;
    bool inUnit = false;
    for (const NtfsRun& r : runs) {
        require(r.isPlain() || r.isSparse() || (compressed && r.isCompressed()));
        require(r.storedInside(volume));
        if (r.isCompressed()) {
            unitStored += r.storedClusters;
            inUnit = r.clusters == 0;
            if (!inUnit) {
                require(unitStored < NTFS_COMPRESSION_UNIT_CLUSTERS);
                unitStored = 0;
            }
        } else {
            require(!inUnit);
        }
    }
    require(!inUnit);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 4096)
        return 0;
    const u8 mode = data[0];
    const bool compressed = (mode & 1) != 0;
    const u64 volume = (mode & 2) != 0 ? 4096 : RunlistParser::ANY_VOLUME;
    const std::size_t arrays = ((mode >> 2) & 3) + 1;
    const std::size_t rest = size - 1;

    MappingPair pair;
    if (rest != 0) {
        std::vector<u8> bytes(data + 1, data + size);
        if (RunlistParser::decodePair(pair, bytes.data(), static_cast<u32>(bytes.size())))
            require(pair.size <= bytes.size() && pair.clusters != 0);
    }

    RunlistParser parser(compressed, volume);
    bool ok = true;
    for (std::size_t i = 0; i < arrays && ok; ++i) {
        const std::size_t from = 1 + rest * i / arrays;
        const std::size_t to = 1 + rest * (i + 1) / arrays;
        // Exactly sized, so that a read past the array meets the address sanitizer.
        std::vector<u8> array(data + from, data + to);
        ok = parser.parse(array.data(), static_cast<u32>(array.size()));
    }
    ok = ok && parser.finish();
    const Runlist& runs = parser.getRunlist();
    require(getRunlistClusters(runs) <= RunlistParser::MAX_CLUSTERS);
    require(runs.size() <= 2 * size + 1);
    if (ok) {
        require(getRunlistClusters(runs) == parser.getParsedClusters());
        checkRuns(runs, compressed, std::min(volume, RunlistParser::MAX_CLUSTERS));
    }
    return 0;
}
