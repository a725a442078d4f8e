#include "fs/ntfs/NtfsFileParser.h"

#include "core/Checked.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/NameConversions.h"
#include "fs/ntfs/DataReader.h"
#include "fs/ntfs/NTFSDrive.h"
#include "fs/ntfs/NtfsDumps.h"
#include "fs/ntfs/RunlistReader.h"
#include "tree/Node.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace {

// The name of the folder index.
constexpr u16 I30[] = {'$', 'I', '3', '0'};
constexpr u32 I30_LENGTH = 4;

using namespace ntfslayout;

constexpr u32 NO_NAMESPACE = 255;

bool isPowerOfTwo(u64 n) {
    return n != 0 && (n & (n - 1)) == 0;
}

// A damaged record can still carry a field that points out of its view; the
// views throw, and the record is then refused like any other damaged one.
template <typename F> bool refusingOutOfRange(const char* what, u64 record, F f) {
    try {
        return f();
    } catch (const std::out_of_range& e) {
        logAt("NtfsFileParser", 70)
            << ": " << what << " of record " << record << ": " << e.what() << '\n';
        return false;
    }
}

} // namespace

// ---- $FILE_NAME and $ATTRIBUTE_LIST values ----

bool FileNameInfo::parse(const ConstArray& value, FileNameInfo& out) {
    if (value.length() <= NAME_OFFSET - 1) {
        logAt("NtfsFileParser", 354) << '\n';
        return false;
    }
    const u64 parent = value.getLE64(FN_PARENT);
    out.parent = ntfsRecordNumber(parent);
    out.parentSequence = static_cast<u16>(parent >> 48);
    out.time = value.getLE64(FN_MODIFICATION_TIME);
    out.size = value.getLE64(FN_DATA_SIZE);
    out.flags = value.getLE32(FN_FLAGS);
    out.nameLength = value.getU8(FN_NAME_LENGTH);
    out.nameSpace = value.getU8(FN_NAMESPACE);
    out.nameOffset = NAME_OFFSET;
    if (NAME_OFFSET + 2 * out.nameLength > value.length()) {
        logAt("NtfsFileParser", 362) << '\n';
        return false;
    }
    return true;
}

std::string FileNameInfo::name(const ConstArray& value, const FileNameInfo& info) {
    const ConstArray bytes(value, info.nameOffset, 2 * info.nameLength);
    std::vector<u16> units(info.nameLength);
    for (u32 i = 0; i < info.nameLength; ++i)
        units[i] = bytes.getLE16(2 * i);
    // The whole name at once, so that surrogate pairs stay one character.
    return utf16ToUtf8(units.data(), units.size());
}

bool AttributeListEntry::parseList(const ConstArray& value, std::vector<AttributeListEntry>& out) {
    const u32 length = value.length();
    u32 pos = 0;
    while (pos < length) {
        if (length - pos < MIN_LENGTH) {
            logAt("NtfsFileParser", 283) << '\n';
            return false;
        }
        AttributeListEntry e;
        e.offset = pos;
        e.length = value.getLE16(pos + AL_LENGTH);
        if (e.length > length - pos) {
            logAt("NtfsFileParser", 286) << '\n';
            return false;
        }
        e.nameLength = value.getU8(pos + AL_NAME_LENGTH);
        e.nameOffset = value.getU8(pos + AL_NAME_OFFSET);
        if (e.nameLength != 0 && e.nameOffset < MIN_LENGTH) {
            logAt("NtfsFileParser", 290) << '\n';
            return false;
        }
        // Also keeps every entry at least MIN_LENGTH long, so the walk moves on.
        const u32 needed = e.nameLength != 0 ? e.nameOffset + 2 * e.nameLength : MIN_LENGTH;
        if (needed > e.length) {
            logAt("NtfsFileParser", 293) << '\n';
            return false;
        }
        e.type = value.getLE32(pos + AL_TYPE);
        e.startingVcn = value.getLE64(pos + AL_STARTING_VCN);
        const u64 reference = value.getLE64(pos + AL_REFERENCE);
        e.record = ntfsRecordNumber(reference);
        e.sequence = static_cast<u16>(reference >> 48);
        e.instance = value.getLE16(pos + AL_INSTANCE);
        out.push_back(e);
        pos += e.length;
    }
    return true;
}

// ---- Folder listing ----

namespace {

// The state of one listing of a folder's $I30 index: the index root's node
// first, then every index block that a sub-node entry names, each at most once.
// A block that fails is left out and the walk goes on; the listing then fails
// with everything the other blocks hold.
class IndexWalk {
public:
    IndexWalk(NtfsFileParser& parser, tree::Folder& folder)
        : parser_(parser), drive_(*parser.getDrive()), reader_(drive_), folder_(folder) {}

    bool run(const ConstArray& root);

private:
    bool walkNode(const ConstArray& node, u32 depth);
    bool walkBlock(u64 vcn, u32 depth);
    bool loadAllocation();
    void addEntry(const ConstArray& key, const FileNameInfo& name, u64 record);

    NtfsFileParser& parser_;
    NTFSDrive& drive_;
    RunlistReader reader_;
    bool allocationLoaded_ = false;
    bool allocationTried_ = false;
    bool blockLost_ = false;
    std::set<u64> visited_;
    u32 blockSize_ = 0;
    u64 sectorsPerBlock_ = 0;
    u64 sectorsPerVcn_ = 0;
    u64 counter_ = 0;
    tree::Folder& folder_;
};

bool IndexWalk::run(const ConstArray& root) {
    if (root.length() < NODE_HEADER_SIZE) {
        logAt("NtfsFileParser", 429) << '\n';
        return false;
    }
    blockSize_ = root.getLE32(IR_BLOCK_SIZE);
    const u64 sectorSize = drive_.getSectorSize();
    if (!isPowerOfTwo(blockSize_) || blockSize_ < NtfsFileParser::MIN_INDEX_BLOCK ||
        blockSize_ > NtfsFileParser::MAX_INDEX_BLOCK || blockSize_ % sectorSize != 0) {
        logAt("NtfsFileParser", 434) << ": index block size " << blockSize_ << '\n';
        return false;
    }
    sectorsPerBlock_ = blockSize_ / sectorSize;
    // Blocks smaller than a cluster are numbered in 512-byte units.
    const u64 clusterBytes = drive_.getClusterBytes();
    const u64 vcnBytes = blockSize_ >= clusterBytes ? clusterBytes : NTFS_RECORD_SECTOR;
    if (vcnBytes % sectorSize != 0) {
        logAt("NtfsFileParser", 439) << ": sector size " << sectorSize << '\n';
        return false;
    }
    sectorsPerVcn_ = vcnBytes / sectorSize;
    counter_ = 0;
    if (!walkNode(ConstArray(root, IR_NODE), 0) || blockLost_) {
        logAt("NtfsFileParser", 443) << '\n';
        return false;
    }
    return true;
}

bool IndexWalk::walkNode(const ConstArray& node, u32 depth) {
    if (node.length() < NODE_HEADER_SIZE) {
        logAt("NtfsFileParser", 453) << '\n';
        return false;
    }
    const u32 entries = node.getLE32(NODE_ENTRIES_OFFSET);
    if (entries < NODE_HEADER_SIZE) {
        logAt("NtfsFileParser", 455) << '\n';
        return false;
    }
    const u32 end = node.getLE32(NODE_ENTRIES_END);
    if (end > node.length()) {
        logAt("NtfsFileParser", 457) << '\n';
        return false;
    }
    u32 pos = entries;
    while (pos <= end) {
        if (end - pos < IE_HEADER_SIZE) {
            logAt("NtfsFileParser", 461) << '\n';
            return false;
        }
        const u32 flags = node.getU8(pos + IE_FLAGS);
        const u32 length = node.getLE16(pos + IE_LENGTH);
        if (length > end - pos) {
            logAt("NtfsFileParser", 466) << '\n';
            return false;
        }
        const u32 keyLength = node.getLE16(pos + IE_KEY_LENGTH);
        const bool subNode = (flags & NTFS_INDEX_ENTRY_SUB_NODE) != 0;
        // The entry holds its header, its key and the sub-node's VCN; so it is
        // at least a header long and the walk always moves on.
        if (IE_HEADER_SIZE + keyLength + (subNode ? IE_SUB_NODE_VCN_SIZE : 0) > length) {
            logAt("NtfsFileParser", 468) << '\n';
            return false;
        }
        // A block that does not read costs its own entries, not those of the
        // blocks beside it: the walk goes on, and the listing is not whole.
        if (subNode && !walkBlock(node.getLE64(pos + length - IE_SUB_NODE_VCN_SIZE), depth + 1)) {
            logAt("NtfsFileParser", 478) << '\n';
            blockLost_ = true;
        }
        if ((flags & NTFS_INDEX_ENTRY_LAST) != 0)
            return true;
        const ConstArray key(node, pos + IE_KEY, keyLength);
        FileNameInfo name;
        if (!FileNameInfo::parse(key, name)) {
            logAt("NtfsFileParser", 488) << '\n';
            return false;
        }
        // A DOS name stands beside the file's long name, which has its own entry.
        if (name.nameSpace != NTFS_NAMESPACE_DOS)
            addEntry(key, name, ntfsRecordNumber(node.getLE64(pos + IE_REFERENCE)));
        ++counter_;
        pos += length;
    }
    logAt("NtfsFileParser", 459) << '\n';
    return false;
}

void IndexWalk::addEntry(const ConstArray& key, const FileNameInfo& name, u64 record) {
    tree::Node node(FileNameInfo::name(key, name), record, counter_, name.size,
                    fileTimeToUnixTime(name.time));
    node.setFlag(tree::Node::DIRECTORY, (name.flags & NTFS_FILE_DIRECTORY) != 0);
    node.setFlag(tree::Node::SYSTEM, (name.flags & NTFS_FILE_SYSTEM) != 0);
    node.setLink(tree::TO);
    folder_.addNode(node);
}

bool IndexWalk::loadAllocation() {
    allocationTried_ = true;
    std::vector<CachedAttribute> extents;
    parser_.getRecordsCache().findAttributes(extents, NTFS_ATTR_INDEX_ALLOCATION, I30, I30_LENGTH);
    NtfsAttributeData data;
    if (!parser_.prepareAttribute(data, extents)) {
        logAt("NtfsFileParser", 313) << '\n';
        return false;
    }
    if (data.resident) {
        logAt("NtfsFileParser", 315) << '\n';
        return false;
    }
    if (!reader_.setRunlist(data.runs, data.initializedSize))
        return false;
    allocationLoaded_ = true;
    return true;
}

bool IndexWalk::walkBlock(u64 vcn, u32 depth) {
    if (depth > NtfsFileParser::MAX_INDEX_DEPTH) {
        logAt("NtfsFileParser", 530) << ": index deeper than " << depth - 1 << '\n';
        return false;
    }
    if (!visited_.insert(vcn).second) {
        logAt("NtfsFileParser", 534) << '\n';
        return false;
    }
    // Tried once: blocks left out for it fail without reading it again.
    if (!allocationLoaded_ && (allocationTried_ || !loadAllocation())) {
        logAt("NtfsFileParser", 541) << '\n';
        return false;
    }
    // A VCN beyond the allocation would overflow the product; the reader
    // refuses any sector beyond it anyway.
    std::vector<u8> block(blockSize_);
    if (vcn > reader_.getSectorCount() / sectorsPerVcn_ ||
        !reader_.read(vcn * sectorsPerVcn_, sectorsPerBlock_, block.data())) {
        logAt("NtfsFileParser", 550) << ": VCN " << vcn << '\n';
        return false;
    }
    NtfsIndexRecordParser indx(ConstArray(block.data(), blockSize_));
    u64 blockVcn = 0;
    if (!indx.checkIndexHeader(blockVcn)) {
        logAt("NtfsFileParser", 502) << '\n';
        return false;
    }
    if (blockVcn != vcn) {
        logAt("NtfsFileParser", 504) << ": block " << blockVcn << " at VCN " << vcn << '\n';
        return false;
    }
    if (!NtfsRecordParser::applyFixups(Array(block.data(), blockSize_))) {
        logAt("NtfsFileParser", 507) << '\n';
        return false;
    }
    const ConstArray node(ConstArray(block.data(), blockSize_), NtfsIndexRecordParser::NODE_OFFSET);
    if (!walkNode(node, depth)) {
        logAt("NtfsFileParser", 512) << '\n';
        return false;
    }
    return true;
}

} // namespace

// ---- The parser ----

NtfsFileParser::NtfsFileParser(NTFSDrive& drive) : drive_(&drive), cache_(drive) {}

void NtfsFileParser::forgetFile() {
    cache_.clear();
    deleted_ = false;
    dataRecord_ = ~u64{0};
    dataOk_ = false;
    data_ = NtfsAttributeData();
    indexRootRecord_ = ~u64{0};
    indexRootOk_ = false;
    indexRoot_.clear();
}

bool NtfsFileParser::loadFile(u64 record) {
    forgetFile();
    current_ = record;
    return refusingOutOfRange("loading", record, [&] { return loadFileRecords(record); });
}

bool NtfsFileParser::loadFileRecords(u64 record) {
    if (!cache_.loadRecord(record, 0, deleted_)) {
        logAt("NtfsFileParser", 90) << ": " << record << '\n';
        return false;
    }
    std::vector<CachedAttribute> lists;
    cache_.findAttributes(lists, NTFS_ATTR_ATTRIBUTE_LIST, nullptr, 0);
    if (lists.empty())
        return true;
    std::vector<u8> value;
    if (!readAttributeValue(value, lists)) {
        logAt("NtfsFileParser", 106) << ": " << record << '\n';
        return false;
    }
    std::vector<AttributeListEntry> entries;
    if (!AttributeListEntry::parseList(ConstArray(value.data(), static_cast<u32>(value.size())),
                                       entries)) {
        logAt("NtfsFileParser", 113) << ": " << record << '\n';
        return false;
    }
    for (const AttributeListEntry& e : entries) {
        if (cache_.hasRecord(e.record))
            continue;
        bool extensionDeleted = false;
        if (!cache_.loadRecord(e.record, record, extensionDeleted)) {
            logAt("NtfsFileParser", 127) << ": " << record << '\n';
            return false;
        }
    }
    return true;
}

void NtfsFileParser::markRecords(Bitmap& records) const {
    const std::vector<u64>& numbers = cache_.getRecordNumbers();
    for (std::size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] < records.size())
            records.set(numbers[i], true);
        else
            logAt("NtfsFileParser", 155) << ": " << numbers[i] << '\n';
    }
}

u64 NtfsFileParser::storedRecordNumber() const {
    if (cache_.getRecordNumbers().empty())
        return ~u64{0};
    const ConstArray base = cache_.getRecordArray(cache_.getRecordNumbers().front());
    return NtfsFileRecordParser(base).storedRecordNumber();
}

bool NtfsFileParser::prepareAttribute(NtfsAttributeData& data,
                                      const std::vector<CachedAttribute>& extents) {
    data = NtfsAttributeData();
    if (extents.empty()) {
        logAt("NtfsFileParser", 171) << '\n';
        return false;
    }
    const CachedAttribute& first = extents.front();
    data.resident = first.header.resident;
    if (!data.resident)
        return prepareNonResident(data, extents);
    if (extents.size() > 1) {
        logAt("NtfsFileParser", 175) << '\n';
        return false;
    }
    ResidentValue value;
    if (!NtfsAttributeParser(cache_.attributeArea(first)).parseResidentValue(value, first.header)) {
        logAt("NtfsFileParser", 179) << '\n';
        return false;
    }
    data.size = value.valueLength;
    data.recordNumber = first.record;
    data.valueOffset = first.header.offset + value.valueOffset;
    return true;
}

bool NtfsFileParser::prepareNonResident(NtfsAttributeData& data,
                                        std::vector<CachedAttribute> extents) {
    for (const CachedAttribute& e : extents) {
        if (e.header.resident) {
            logAt("NtfsFileParser", 207) << '\n';
            return false;
        }
    }
    // The extents go in VCN order, whichever order their records were loaded in
    // (a record may be loaded early for another attribute it holds).
    std::stable_sort(extents.begin(), extents.end(),
                     [](const CachedAttribute& a, const CachedAttribute& b) {
                         return a.header.startingVcn < b.header.startingVcn;
                     });
    std::unique_ptr<RunlistParser> runs;
    u64 allocated = 0;
    for (std::size_t i = 0; i < extents.size(); ++i) {
        const CachedAttribute& e = extents[i];
        const NtfsAttributeParser attributes(cache_.attributeArea(e));
        NonResidentValue value;
        if (!attributes.parseNonResidentValue(value, e.header)) {
            logAt("NtfsFileParser", 214) << '\n';
            return false;
        }
        if (i == 0) {
            runs.reset(new RunlistParser(value.compressed, RunlistParser::ANY_VOLUME));
            allocated = value.allocatedSize;
            data.size = value.dataSize;
            data.initializedSize = std::min(value.initializedSize, value.dataSize);
        }
        // Without the extent at VCN 0 every later cluster would land in the wrong
        // place of the file.
        if (e.header.startingVcn != runs->getParsedClusters()) {
            logAt("NtfsFileParser", 209) << ": extent at VCN " << e.header.startingVcn << " after "
                                         << runs->getParsedClusters() << " clusters\n";
            return false;
        }
        if (!runs->parse(attributes.mappingPairs(e.header, value))) {
            logAt("NtfsFileParser", 223) << '\n';
            return false;
        }
    }
    if (!runs->finish()) {
        logAt("NtfsFileParser", 231) << '\n';
        return false;
    }
    const Runlist& list = runs->getRunlist();
    const u64 volumeClusters = drive_->getClusterCount();
    for (const NtfsRun& r : list) {
        if (!r.storedInside(volumeClusters)) {
            std::ostringstream run;
            writeRun(run, r);
            logAt("NtfsFileParser", 240)
                << ": Invalid Runlist: " << runlistText(list) << ", r: " << run.str()
                << ", DATA_CLUSTERS: " << volumeClusters << '\n';
            return false;
        }
    }
    if (ceilDiv(data.size, drive_->getClusterBytes()) > runs->getParsedClusters()) {
        logAt("NtfsFileParser", 247) << '\n';
        return false;
    }
    data.runs = list;
    // A compressed stream's size is no measure of its runs: only the allocated
    // size tells that the runs of its last units are gone.
    data.tailLost = ceilDiv(allocated, drive_->getClusterBytes()) > runs->getParsedClusters();
    if (data.tailLost)
        logAt("NtfsFileParser", 252) << ": runs cover " << runs->getParsedClusters()
                                     << " clusters of " << allocated << " bytes allocated\n";
    return true;
}

bool NtfsFileParser::readAttributeValue(std::vector<u8>& value,
                                        const std::vector<CachedAttribute>& extents) {
    NtfsAttributeData data;
    if (!prepareAttribute(data, extents)) {
        logAt("NtfsFileParser", 266) << '\n';
        return false;
    }
    if (data.size > MAX_VALUE_SIZE) {
        logAt("NtfsFileParser", 268) << ": value of " << data.size << " bytes\n";
        return false;
    }
    value.assign(static_cast<std::size_t>(data.size), 0);
    if (data.resident) {
        const ConstArray bytes(cache_.getRecordArray(data.recordNumber), data.valueOffset,
                               static_cast<u32>(data.size));
        if (!value.empty())
            std::memcpy(value.data(), bytes.data(), value.size());
        return true;
    }
    ntfs::BufferDataReader reader(*drive_, &cache_, value.data(), data.size);
    if (!reader.read(data)) {
        logAt("NtfsFileParser", 272) << '\n';
        return false;
    }
    return true;
}

bool NtfsFileParser::getData(NtfsAttributeData& data) {
    if (dataRecord_ != current_) {
        dataRecord_ = current_;
        dataOk_ = refusingOutOfRange("data", current_, [&] {
            std::vector<CachedAttribute> extents;
            cache_.findAttributes(extents, NTFS_ATTR_DATA, nullptr, 0);
            return prepareAttribute(data_, extents);
        });
        if (!dataOk_)
            logAt("NtfsFileParser", 785) << '\n';
    }
    if (dataOk_)
        data = data_;
    return dataOk_;
}

bool NtfsFileParser::isMetadataFile(const tree::Node& node) {
    // The volume's own files are flagged system and named with a '$'; a user
    // file flagged system (desktop.ini, a symbolic link) keeps its data in
    // $DATA like any other.
    return node.hasFlag(tree::Node::SYSTEM) && !node.getName().empty() &&
           node.getName().front() == '$';
}

bool NtfsFileParser::hasUnnamedData() const {
    std::vector<CachedAttribute> extents;
    cache_.findAttributes(extents, NTFS_ATTR_DATA, nullptr, 0);
    return !extents.empty();
}

u64 NtfsFileParser::statedDataSize(u64 otherwise) const {
    std::vector<CachedAttribute> extents;
    cache_.findAttributes(extents, NTFS_ATTR_DATA, nullptr, 0);
    for (const CachedAttribute& e : extents) {
        NonResidentValue value;
        if (!e.header.resident && e.header.startingVcn == 0 &&
            NtfsAttributeParser(cache_.attributeArea(e)).parseNonResidentValue(value, e.header))
            return value.dataSize;
    }
    return otherwise;
}

bool NtfsFileParser::readIndexRoot() {
    if (indexRootRecord_ == current_)
        return indexRootOk_;
    indexRootRecord_ = current_;
    indexRootOk_ = false;
    indexRoot_.clear();
    std::vector<CachedAttribute> roots;
    cache_.findAttributes(roots, NTFS_ATTR_INDEX_ROOT, I30, I30_LENGTH);
    if (roots.empty())
        return false;
    indexRootOk_ = refusingOutOfRange("index root", current_,
                                      [&] { return readAttributeValue(indexRoot_, roots); });
    if (!indexRootOk_)
        logAt("NtfsFileParser", 853) << '\n';
    return indexRootOk_;
}

bool NtfsFileParser::isDirectory() {
    return readIndexRoot();
}

bool NtfsFileParser::listFolder(tree::Folder& folder) {
    if (!readIndexRoot()) {
        logAt("NtfsFileParser", 803) << '\n';
        return false;
    }
    return refusingOutOfRange("folder listing", current_, [&] {
        IndexWalk walk(*this, folder);
        if (!walk.run(ConstArray(indexRoot_.data(), static_cast<u32>(indexRoot_.size())))) {
            logAt("NtfsFileParser", 807) << '\n';
            return false;
        }
        return true;
    });
}

NodeBuild NtfsFileParser::buildNode(tree::Node& node, FileLinks* links) {
    NodeBuild built = NodeBuild::NO_NAME;
    refusingOutOfRange("node", current_, [&] {
        built = buildNodeFromRecords(node, links);
        return true;
    });
    return built;
}

u16 NtfsFileParser::sequence() const {
    if (cache_.getRecordNumbers().empty())
        return 0;
    return cache_.getRecordArray(cache_.getRecordNumbers().front()).getLE16(FILE_SEQUENCE);
}

bool NtfsFileParser::residentValue(const CachedAttribute& a, ConstArray& out) const {
    if (!a.header.resident)
        return false;
    const ConstArray area = cache_.attributeArea(a);
    ResidentValue value;
    if (!NtfsAttributeParser(area).parseResidentValue(value, a.header))
        return false;
    out = ConstArray(area, a.header.offset + value.valueOffset, value.valueLength);
    return true;
}

u64 NtfsFileParser::standardModificationTime() const {
    for (const CachedAttribute& a : cache_.getAttributes()) {
        if (a.header.type != NTFS_ATTR_STANDARD_INFORMATION)
            continue;
        // Always resident, in the base record.
        ConstArray value;
        if (!residentValue(a, value) || value.length() < SI_MODIFICATION_TIME + 8)
            return 0;
        return value.getLE64(SI_MODIFICATION_TIME);
    }
    return 0;
}

NodeBuild NtfsFileParser::buildNodeFromRecords(tree::Node& node, FileLinks* links) {
    std::vector<CachedAttribute> names;
    cache_.findAttributes(names, NTFS_ATTR_FILE_NAME, nullptr, 0);
    u32 best = NO_NAMESPACE;
    tree::Node built;
    ParentRef chosenParent;
    std::size_t chosen = 0;
    // A DOS name stands beside the long name in the same folder; every other
    // name places the file.
    u32 placingNames = 0;
    std::vector<u8> read;
    ConstArray v;
    FileNameInfo name;
    // A name is resident, and read in its record; one that is not is read
    // whole as any value.
    auto readName = [&](const CachedAttribute& a) {
        if (!residentValue(a, v)) {
            if (!readAttributeValue(read, std::vector<CachedAttribute>{a}))
                return false;
            v = ConstArray(read.data(), static_cast<u32>(read.size()));
        }
        return FileNameInfo::parse(v, name);
    };
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!readName(names[i]))
            continue;
        if (name.nameSpace != NTFS_NAMESPACE_DOS)
            ++placingNames;
        if (name.nameSpace >= best)
            continue;
        built = tree::Node(FileNameInfo::name(v, name), name.parent, tree::Node::NONE, name.size,
                           fileTimeToUnixTime(name.time));
        built.setFlag(tree::Node::DIRECTORY, (name.flags & NTFS_FILE_DIRECTORY) != 0);
        built.setFlag(tree::Node::SYSTEM, (name.flags & NTFS_FILE_SYSTEM) != 0);
        best = name.nameSpace;
        chosen = i;
        chosenParent = ParentRef{name.parent, name.parentSequence};
    }
    if (best == NO_NAMESPACE)
        return NodeBuild::NO_NAME;
    if (links) {
        links->chosen = chosenParent;
        links->more.clear();
        // Only a hard link has further names; they are read again here.
        for (std::size_t i = 0; placingNames > 1 && i < names.size(); ++i) {
            if (i != chosen && readName(names[i]) && name.nameSpace != NTFS_NAMESPACE_DOS)
                links->more.push_back(
                    {ParentRef{name.parent, name.parentSequence}, FileNameInfo::name(v, name)});
        }
    }
    const bool directory = isDirectory();
    NtfsAttributeData data;
    NodeBuild result = NodeBuild::WHOLE;
    // A metadata file without a data stream of its own ($Secure, $Quota and
    // the like) is an empty file, as its recovery takes it; any other file is
    // whole only once its data stream reads.
    if (!directory && !getData(data) && (hasUnnamedData() || !isMetadataFile(built))) {
        result = NodeBuild::NO_DATA;
        built.setSize(statedDataSize(built.getSize()));
    }
    // The name's time is when the name was made; the standard information's is
    // when the data was last written.
    if (const u64 written = standardModificationTime())
        built.setTime(fileTimeToUnixTime(written));
    built.setFlag(tree::Node::DIRECTORY, directory);
    built.setFlag(tree::Node::DELETED, deleted_);
    built.setFlag(tree::Node::HAS_UNREADABLE, !directory && hasUnreadableData(data));
    built.setLink(tree::FROM);
    if (result == NodeBuild::WHOLE)
        built.setSize(directory ? 0 : data.size);
    node = std::move(built);
    return result;
}

void NtfsFileParser::setMftRunlist(const Runlist& runs) {
    cache_.setReaderRunlist(runs);
    forgetFile();
}

bool NtfsFileParser::readMftRunlist(bool mirror, bool* recordZeroLoaded) {
    bool loaded = false;
    const bool ok = refusingOutOfRange("MFT run list", 0,
                                       [&] { return readMftRunlistRecords(mirror, loaded); });
    if (recordZeroLoaded != nullptr)
        *recordZeroLoaded = loaded;
    return ok;
}

bool NtfsFileParser::readMftRunlistRecords(bool mirror, bool& recordZeroLoaded) {
    recordZeroLoaded = false;
    const u64 spc = drive_->getSectorsPerCluster();
    const u64 clustersPerRecord = ceilDiv(drive_->getSectorsPerFileRecord(), spc);
    const u64 start = drive_->getMftStartCluster(mirror);
    const Runlist first{NtfsRun{start, clustersPerRecord, clustersPerRecord}};
    logAt("NtfsFileParser", 562) << ": " << runlistText(first) << '\n';
    setMftRunlist(first);
    current_ = 0;
    if (!cache_.loadRecord(0, 0, deleted_)) {
        logAt("NtfsFileParser", 566) << '\n';
        return false;
    }
    recordZeroLoaded = true;

    // The MFT is never compressed, and none of its runs may leave the volume:
    // the list sizes everything that reads records through it.
    RunlistParser runs(false, drive_->getClusterCount());
    // One extent of the unnamed $DATA, checked and decoded into the runs.
    auto addExtent = [&](const std::vector<CachedAttribute>& found, u64 vcn, int lineOne,
                         int lineResident, int lineHeader, int lineVcn, int linePairs) {
        if (found.size() != 1) {
            logAt("NtfsFileParser", lineOne) << '\n';
            return false;
        }
        const CachedAttribute& e = found.front();
        if (e.header.resident) {
            logAt("NtfsFileParser", lineResident) << '\n';
            return false;
        }
        const NtfsAttributeParser attributes(cache_.attributeArea(e));
        NonResidentValue value;
        if (!attributes.parseNonResidentValue(value, e.header)) {
            logAt("NtfsFileParser", lineHeader) << '\n';
            return false;
        }
        if (e.header.startingVcn != vcn || vcn != runs.getParsedClusters()) {
            logAt("NtfsFileParser", lineVcn)
                << ": extent at VCN " << e.header.startingVcn << " where "
                << runs.getParsedClusters() << " clusters are known\n";
            return false;
        }
        if (!runs.parse(attributes.mappingPairs(e.header, value))) {
            logAt("NtfsFileParser", linePairs) << '\n';
            return false;
        }
        return true;
    };

    std::vector<CachedAttribute> data;
    cache_.findAttributes(data, NTFS_ATTR_DATA, nullptr, 0);
    if (!addExtent(data, 0, 570, 572, 578, 580, 582))
        return false;
    logAt("NtfsFileParser", 584) << ": " << runlistText(runs.getRunlist()) << '\n';
    cache_.setReaderRunlist(runs.getRunlist());

    std::vector<CachedAttribute> lists;
    cache_.findAttributes(lists, NTFS_ATTR_ATTRIBUTE_LIST, nullptr, 0);
    if (!lists.empty()) {
        std::vector<u8> value;
        if (!readAttributeValue(value, lists)) {
            logAt("NtfsFileParser", 595) << '\n';
            return false;
        }
        std::vector<AttributeListEntry> entries;
        if (!AttributeListEntry::parseList(ConstArray(value.data(), static_cast<u32>(value.size())),
                                           entries)) {
            logAt("NtfsFileParser", 599) << '\n';
            return false;
        }
        for (const AttributeListEntry& entry : entries) {
            if (entry.type != NTFS_ATTR_DATA || entry.nameLength != 0 || entry.record == 0)
                continue;
            bool extensionDeleted = false;
            if (!cache_.hasRecord(entry.record) &&
                !cache_.loadRecord(entry.record, 0, extensionDeleted)) {
                logAt("NtfsFileParser", 610) << '\n';
                return false;
            }
            // The extent that this entry names: an extension record may hold
            // more than one.
            std::vector<CachedAttribute> candidates;
            cache_.findAttributes(candidates, NTFS_ATTR_DATA, nullptr, 0);
            std::vector<CachedAttribute> extent;
            for (const CachedAttribute& c : candidates) {
                if (c.record == entry.record && !c.header.resident &&
                    c.header.startingVcn == entry.startingVcn)
                    extent.push_back(c);
            }
            if (!addExtent(extent, entry.startingVcn, 615, 617, 621, 623, 625))
                return false;
            logAt("NtfsFileParser", 628) << ": " << runlistText(runs.getRunlist()) << '\n';
            cache_.setReaderRunlist(runs.getRunlist());
        }
    }
    if (!runs.finish()) {
        logAt("NtfsFileParser", 634) << '\n';
        return false;
    }
    logAt("NtfsFileParser", 635) << ": " << runlistText(runs.getRunlist()) << '\n';
    setMftRunlist(runs.getRunlist());
    return true;
}

bool NtfsFileParser::hasUnreadableData(const NtfsAttributeData& data) const {
    const u64 recordLba = data.resident ? getRecordLBA(data.recordNumber) : ~u64{0};
    return ntfs::BaseDataReader::hasUnreadableData(*drive_, data, recordLba);
}

void NtfsFileParser::dumpRecord(std::ostream& os, u64 record) {
    os << _("MFT Index") << ": " << record << ", " << _("LBA") << ": ";
    tree::printValue(os, getRecordLBA(record));
    os << '\n';
    std::vector<u8> bytes(cache_.getRecordSize());
    if (cache_.readRawRecord(record, bytes.data()))
        dumpNtfsFileRecord(os, bytes.data(), static_cast<u32>(bytes.size()));
    else
        os << _("Cannot read file record") << ' ' << record << '\n';
}
