#include "cbr/FileModuleOle.h"

#include "cbr/ByteSource.h"
#include "core/Array.h"
#include "core/Checked.h"
#include "core/DateTime.h"
#include "core/FileNames.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace cbr {

namespace {

constexpr u8 SIGNATURE[12] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0, 0, 0};

constexpr u32 SECTOR = 512;
constexpr u32 ENTRIES_PER_FAT_SECTOR = SECTOR / 4;
constexpr u32 MINI_SECTOR = 64;
constexpr u32 DIRECTORY_ENTRY = 128;

// Header fields.
constexpr u32 H_SECTOR_SHIFT = 0x1E;
constexpr u32 H_FAT_SECTORS = 0x2C;
constexpr u32 H_FIRST_DIRECTORY = 0x30;
constexpr u32 H_FIRST_MINI_FAT = 0x3C;
constexpr u32 H_MINI_FAT_SECTORS = 0x40;
constexpr u32 H_FIRST_DIFAT = 0x44;
constexpr u32 H_DIFAT = 0x4C;
constexpr u32 HEADER_DIFAT_ENTRIES = 109;
constexpr u32 DIFAT_ENTRIES_PER_SECTOR = 127; // the last u32 (0x1FC) links on
constexpr u32 DIFAT_NEXT = 0x1FC;

// Directory entry fields.
constexpr u32 E_NAME_LENGTH = 0x40;
constexpr u32 E_OBJECT_TYPE = 0x42;
constexpr u32 E_START = 0x74;
constexpr u32 E_SIZE = 0x78;
constexpr u32 MAX_NAME_LENGTH = 64;

constexpr u32 END_OF_CHAIN = 0xFFFFFFFE;
constexpr u32 FREE_SECTOR = 0xFFFFFFFF;
constexpr u32 MAX_FAT_SECTORS = 1600;
constexpr u32 MAX_DIRECTORY_SECTORS = 16;
constexpr u32 MAX_MINI_FAT_SECTORS = 16384;
constexpr u32 MAX_MINI_STREAM_SECTORS = 16384;
constexpr u32 MINI_STREAM_CUTOFF = 4096;
constexpr u32 MAX_SUMMARY_SIZE = 1048576;

bool isChainMember(u32 sector) {
    return sector < 0xFFFFFFFC;
}

// Sector n follows the 512-byte header.
u64 sectorOffset(u32 sector) {
    return (u64(sector) + 1) * SECTOR;
}

// The stream names that tell what wrote the file, in the order they are tried.
struct NamedType {
    std::u16string name;
    const char* type;
};
const NamedType STREAM_TYPES[] = {
    {u"WordDocument", "doc"},
    {u"Workbook", "xls"},
    {u"Book", "xls"},
    {u"PowerPoint Document", "ppt"},
    {u"PP40", "ppt"},
    {u"Pictures", "ppt"},
    {u"Symbol 1", "fla"},
    {u"Page 1", "fla"},
    {u"Quill", "pub"},
    {u"VisioDocument", "vsd"},
    {u"   19", "mpp"},
    {u"Props9", "mpp"},
    {u"VSM_Project_Data", "vsmacros"},
    {u"InstallUISequence", "msi"},
    {u"\u4840\u3F7F\u4164\u422F\u4836", "msi"},
    {u"CrystalReportDesignerStream", "rpt"},
    {u"VisualStudioModeler", "suo"},
    {u"SolutionConfiguration", "suo"},
};
const std::u16string ROOT_ENTRY = u"Root Entry";
const std::u16string SUMMARY_INFORMATION = u"\u0005SummaryInformation";

// Whether a directory entry carries exactly this name (its length counts the
// terminating zero).
bool hasName(const u8* entry, u16 nameLength, const std::u16string& name) {
    if (nameLength != 2 * (name.size() + 1))
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (getLE16(entry, 2 * i) != name[i])
            return false;
    return true;
}

// What the module keeps for one scan: of each FAT sector it read, the index of
// its last entry in use (-1: none), by the sector's place on the source. A
// FAT's sectors are read from the last, to find the file's end; on a source
// where many hits name the same FAT sectors, each is read once.
class OleMemory : public ScanMemory {
public:
    static constexpr std::size_t MAX_SECTORS = 1 << 20;
    std::unordered_map<u64, i16> lastUsedEntry;
};

// The working state of one analysis: where the FAT lies, one FAT sector cached,
// the mini FAT and the sectors of the mini stream. `at` is where the window
// starts on the source, and `memory` the scan's (null outside a scan).
class CompoundFile {
public:
    CompoundFile(ByteSource& src, u64 at, OleMemory* memory)
        : src_(src), at_(at), memory_(memory) {}

    bool readSector(u32 sector, u8* out) { return src_.read(sectorOffset(sector), out, SECTOR); }
    bool loadFatSectors(const u8* header);
    bool findEnd(u64& end);
    bool nextSector(u32& sector);
    bool nextMiniSector(u32& sector);
    bool loadMiniFat(const u8* header);
    bool loadMiniStreamSectors(u32 start, u32 size);
    bool readStreamChain(u32 sector, u32 remaining, u8* destination) {
        return readChain(sector, remaining, destination, false);
    }
    bool readMiniStream(u32 sector, u32 remaining, u8* destination) {
        return readChain(sector, remaining, destination, true);
    }

private:
    bool readChain(u32 unit, u32 remaining, u8* destination, bool mini);
    // The index of the last entry in use in FAT sector `sector`, or -1.
    bool lastUsedEntry(u32 sector, i32& last);

    ByteSource& src_;
    u64 at_;
    OleMemory* memory_;
    std::vector<u32> fatSectors_;
    u32 cachedFatSector_ = FREE_SECTOR;
    u8 fatCache_[SECTOR] = {};
    std::vector<u32> miniFat_;
    std::vector<u32> miniStreamSectors_;
};

bool CompoundFile::loadFatSectors(const u8* header) {
    const u32 count = getLE32(header, H_FAT_SECTORS);
    if (count < 1 || count > MAX_FAT_SECTORS)
        return false;
    for (u32 i = 0; i < count && i < HEADER_DIFAT_ENTRIES; ++i)
        fatSectors_.push_back(getLE32(header, H_DIFAT + 4 * i));
    // The count bounds the DIFAT chain, so a chain that loops ends anyway.
    u32 difat = getLE32(header, H_FIRST_DIFAT);
    u8 sector[SECTOR];
    while (fatSectors_.size() < count) {
        if (!isChainMember(difat) || !readSector(difat, sector))
            return false;
        for (u32 i = 0; i < DIFAT_ENTRIES_PER_SECTOR && fatSectors_.size() < count; ++i)
            fatSectors_.push_back(getLE32(sector, 4 * i));
        difat = getLE32(sector, DIFAT_NEXT);
    }
    return true;
}

bool CompoundFile::lastUsedEntry(u32 sector, i32& last) {
    const u64 offset = sectorOffset(sector);
    // What the memory knows of a sector holds for this window only when the
    // window holds the sector.
    const bool known = memory_ != nullptr && src_.has(offset, SECTOR);
    if (known) {
        const auto it = memory_->lastUsedEntry.find(at_ + offset);
        if (it != memory_->lastUsedEntry.end()) {
            last = it->second;
            return true;
        }
    }
    u8 data[SECTOR];
    if (!src_.read(offset, data, SECTOR))
        return false;
    last = -1;
    for (u32 e = ENTRIES_PER_FAT_SECTOR; e-- > 0 && last < 0;)
        if (getLE32(data, 4 * e) != FREE_SECTOR)
            last = static_cast<i32>(e);
    if (known) {
        if (memory_->lastUsedEntry.size() >= OleMemory::MAX_SECTORS)
            memory_->lastUsedEntry.clear();
        memory_->lastUsedEntry[at_ + offset] = static_cast<i16>(last);
    }
    return true;
}

bool CompoundFile::findEnd(u64& end) {
    for (std::size_t i = fatSectors_.size(); i-- > 0;) {
        i32 e = -1;
        if (!isChainMember(fatSectors_[i]) || !lastUsedEntry(fatSectors_[i], e))
            return false;
        if (e >= 0) {
            const u64 last = u64(i) * ENTRIES_PER_FAT_SECTOR + static_cast<u64>(e);
            end = sectorOffset(static_cast<u32>(last)) + SECTOR;
            return true;
        }
    }
    return false;
}

bool CompoundFile::nextSector(u32& sector) {
    const u32 index = sector / ENTRIES_PER_FAT_SECTOR;
    if (index != cachedFatSector_) {
        if (index >= fatSectors_.size() || !isChainMember(fatSectors_[index]) ||
            !readSector(fatSectors_[index], fatCache_)) {
            cachedFatSector_ = FREE_SECTOR;
            return false;
        }
        cachedFatSector_ = index;
    }
    sector = getLE32(fatCache_, 4 * (sector % ENTRIES_PER_FAT_SECTOR));
    return true;
}

bool CompoundFile::nextMiniSector(u32& sector) {
    if (sector >= miniFat_.size())
        return false;
    sector = miniFat_[sector];
    return true;
}

bool CompoundFile::loadMiniFat(const u8* header) {
    const u32 count = getLE32(header, H_MINI_FAT_SECTORS);
    if (count > MAX_MINI_FAT_SECTORS)
        return false;
    u32 sector = getLE32(header, H_FIRST_MINI_FAT);
    u8 data[SECTOR];
    for (u32 n = 0; n < count; ++n) {
        if (!isChainMember(sector) || !readSector(sector, data))
            return false;
        for (u32 e = 0; e < ENTRIES_PER_FAT_SECTOR; ++e)
            miniFat_.push_back(getLE32(data, 4 * e));
        if (!nextSector(sector))
            return false;
        if (sector == END_OF_CHAIN)
            break;
    }
    return true;
}

bool CompoundFile::loadMiniStreamSectors(u32 start, u32 size) {
    const u64 needed = ceilDiv(size, SECTOR);
    if (needed > MAX_MINI_STREAM_SECTORS)
        return false;
    u32 sector = start;
    while (miniStreamSectors_.size() < needed && sector != END_OF_CHAIN) {
        if (!isChainMember(sector))
            return false;
        miniStreamSectors_.push_back(sector);
        if (!nextSector(sector))
            return false;
    }
    return true;
}

// A stream read through the FAT (512-byte sectors) or through the mini FAT
// (64-byte mini sectors inside the mini stream). Bounded by the bytes still
// needed, so a chain that loops back on itself ends when the buffer is full.
bool CompoundFile::readChain(u32 unit, u32 remaining, u8* destination, bool mini) {
    const u32 unitSize = mini ? MINI_SECTOR : SECTOR;
    while (true) {
        if (!isChainMember(unit))
            return false;
        u64 at = sectorOffset(unit);
        if (mini) {
            const u64 position = u64(unit) * MINI_SECTOR;
            const u64 index = position / SECTOR;
            if (index >= miniStreamSectors_.size())
                return false;
            at = sectorOffset(miniStreamSectors_[index]) + position % SECTOR;
        }
        const u32 chunk = remaining < unitSize ? remaining : unitSize;
        if (!src_.read(at, destination, chunk))
            return false;
        destination += chunk;
        remaining -= chunk;
        if (remaining == 0)
            return true;
        if (!(mini ? nextMiniSector(unit) : nextSector(unit)))
            return false;
    }
}

// What the summary property set and the stream names told.
struct Findings {
    std::string type;
    std::string name;
    u32 time = NO_TIME;
};

// Typed property values; each is checked against the buffer and gives nothing
// when it does not fit or has another type.
bool readInt16Property(const u8* buffer, u64 length, u64 pos, u16& value) {
    if (!fits(pos, 6, length) || getLE32(buffer, pos) != 2)
        return false;
    value = getLE16(buffer, pos + 4);
    return true;
}

bool readTimeProperty(const u8* buffer, u64 length, u64 pos, u64& value) {
    if (!fits(pos, 12, length) || getLE32(buffer, pos) != 64)
        return false;
    value = getLE64(buffer, pos + 4);
    return true;
}

// An 8-bit string comes back as it is stored (`wide` false); a UTF-16 one as
// UTF-8 (`wide` true).
bool readStringProperty(const u8* buffer, u64 length, u64 pos, std::string& value, bool& wide) {
    if (!fits(pos, 8, length))
        return false;
    const u32 type = getLE32(buffer, pos);
    const u64 count = getLE32(buffer, pos + 4);
    const u8* text = buffer + pos + 8;
    if (type == 30) {
        if (count == 0 || !fits(pos + 8, count, length))
            return false;
        // Writers pad the count with zeros; the text ends at the first one.
        const void* zero = std::memchr(text, 0, static_cast<std::size_t>(count - 1));
        const u64 n = zero ? static_cast<const u8*>(zero) - text : count - 1;
        value.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(n));
        wide = false;
        return true;
    }
    if (type == 31) {
        if (count < 2 || !fits(pos + 8, 2 * count, length))
            return false;
        value = utf16LeToUtf8(text, static_cast<std::size_t>(2 * (count - 1)));
        wide = true;
        return true;
    }
    return false;
}

const char* typeOfApplication(const std::string& application) {
    if (application.compare(0, 14, "Microsoft Word") == 0)
        return "doc";
    if (application == "Microsoft Excel")
        return "xls";
    if (application == "Microsoft PowerPoint")
        return "ppt";
    if (application == "MSProject")
        return "mpp";
    if (application.find("Windows Installer") != std::string::npos)
        return "msi";
    if (application.find("Crystal Reports") != std::string::npos)
        return "rpt";
    return "";
}

class FileModuleOle : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;

private:
    enum class Entry { NEXT, END_OF_SECTOR, BAD };

    struct Walk {
        bool rootSeen = false;
        u32 rootStart = END_OF_CHAIN;
        u32 rootSize = 0;
        bool summarySeen = false;
        bool miniFatTried = false;
        bool miniFatLoaded = false;
        bool miniStreamTried = false;
        bool miniStreamLoaded = false;
        Findings found;
    };

    static Entry examineEntry(CompoundFile& cf, const u8* header, const u8* entry, Walk& walk);
    static void readSummary(CompoundFile& cf, const u8* header, u32 start, u32 size, Walk& walk);
    static bool typeFromSummary(const u8* buffer, u64 length, Findings& found);
};

bool FileModuleOle::check(const u8* sector, u32 size) {
    return startsWith(sector, size, SIGNATURE, sizeof SIGNATURE);
}

bool FileModuleOle::analyze(dt::Reader& file, FileInfo& info) {
    return analyzeInScan(file, info, 0, nullptr);
}

std::unique_ptr<ScanMemory> FileModuleOle::newScanMemory() const {
    return std::make_unique<OleMemory>();
}

bool FileModuleOle::analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) {
    ByteSource src(file, 4096);
    u8 header[SECTOR];
    if (!src.read(0, header, SECTOR) || getLE16(header, H_SECTOR_SHIFT) != 9)
        return false;
    CompoundFile cf(src, at, dynamic_cast<OleMemory*>(memory));
    // A short list (a DIFAT sector that cannot be read) still sizes the part of
    // the file it covers; an empty one fails findEnd.
    cf.loadFatSectors(header);
    u64 end = 0;
    // The last used sector must lie in the window: a FAT that reaches beyond it
    // is damaged, or its file is larger than any of its kind should be.
    if (!cf.findEnd(end) || end > src.size())
        return false;

    Walk walk;
    u32 sector = getLE32(header, H_FIRST_DIRECTORY);
    u8 data[SECTOR];
    // At most 16 sectors of 4 entries: the chain is followed no further, so a
    // loop in it ends here too.
    for (u32 n = 0; n < MAX_DIRECTORY_SECTORS; ++n) {
        if (!isChainMember(sector) || !cf.readSector(sector, data))
            return false;
        for (u32 e = 0; e < SECTOR / DIRECTORY_ENTRY; ++e) {
            // Once both are known the other entries have nothing more to tell.
            if (!walk.found.type.empty() && walk.summarySeen)
                break;
            const Entry result = examineEntry(cf, header, data + e * DIRECTORY_ENTRY, walk);
            if (result == Entry::BAD)
                return false;
            if (result == Entry::END_OF_SECTOR)
                break;
        }
        if (n + 1 == MAX_DIRECTORY_SECTORS)
            break;
        if (!cf.nextSector(sector))
            return false;
        if (sector == END_OF_CHAIN)
            break;
    }

    info.clear();
    info.setType(walk.found.type.empty() ? "ole" : walk.found.type);
    info.setSize(end);
    if (!walk.found.name.empty())
        info.getAttributes().set("name", cutUtf8(walk.found.name));
    if (walk.found.time != NO_TIME)
        info.getAttributes().setTime("time", walk.found.time);
    return true;
}

FileModuleOle::Entry FileModuleOle::examineEntry(CompoundFile& cf, const u8* header,
                                                 const u8* entry, Walk& walk) {
    const u16 nameLength = getLE16(entry, E_NAME_LENGTH);
    const u8 objectType = entry[E_OBJECT_TYPE];
    if (nameLength == 0 || objectType == 0)
        return Entry::END_OF_SECTOR;
    if (nameLength > MAX_NAME_LENGTH || nameLength % 2 != 0 ||
        (objectType != 1 && objectType != 2 && objectType != 5))
        return Entry::BAD;
    const u32 start = getLE32(entry, E_START);
    const u32 size = getLE32(entry, E_SIZE);
    if (hasName(entry, nameLength, ROOT_ENTRY)) {
        walk.rootSeen = true;
        walk.rootStart = start;
        walk.rootSize = size;
    } else if (hasName(entry, nameLength, SUMMARY_INFORMATION)) {
        readSummary(cf, header, start, size, walk);
    }
    if (walk.found.type.empty()) {
        for (const NamedType& row : STREAM_TYPES) {
            if (hasName(entry, nameLength, row.name)) {
                walk.found.type = row.type;
                break;
            }
        }
    }
    return Entry::NEXT;
}

// A summary that cannot be read whole only leaves the title, time and type
// unknown: the size is already known and the file is worth keeping.
void FileModuleOle::readSummary(CompoundFile& cf, const u8* header, u32 start, u32 size,
                                Walk& walk) {
    walk.summarySeen = true;
    if (size < 1 || size > MAX_SUMMARY_SIZE)
        return;
    std::vector<u8> buffer(size);
    bool whole = false;
    if (size < MINI_STREAM_CUTOFF) {
        if (!walk.miniFatTried) {
            walk.miniFatTried = true;
            walk.miniFatLoaded = cf.loadMiniFat(header);
        }
        if (!walk.miniStreamTried && walk.rootSeen) {
            walk.miniStreamTried = true;
            walk.miniStreamLoaded = cf.loadMiniStreamSectors(walk.rootStart, walk.rootSize);
        }
        whole = walk.miniFatLoaded && walk.miniStreamLoaded &&
                cf.readMiniStream(start, size, buffer.data());
    } else {
        whole = cf.readStreamChain(start, size, buffer.data());
    }
    if (whole)
        typeFromSummary(buffer.data(), size, walk.found);
}

bool FileModuleOle::typeFromSummary(const u8* buffer, u64 length, Findings& found) {
    if (length < 28 || getLE16(buffer, 0) != 0xFFFE || getLE16(buffer, 2) != 0)
        return false;
    // FMTID_SummaryInformation F29F85E0-4FF9-1068-AB91-08002B27B3D9 as four u32.
    static constexpr u32 SUMMARY_FMTID[4] = {0xF29F85E0, 0x10684FF9, 0x000891AB, 0xD9B3272B};
    const u32 sections = getLE32(buffer, 24);
    u64 sectionOffset = 0;
    for (u64 i = 0, pos = 28; i < sections && fits(pos, 20, length); ++i, pos += 20) {
        bool same = true;
        for (u32 k = 0; k < 4; ++k)
            same = same && getLE32(buffer, pos + 4 * k) == SUMMARY_FMTID[k];
        if (same) {
            sectionOffset = getLE32(buffer, pos + 16);
            break;
        }
    }
    if (sectionOffset == 0 || !fits(sectionOffset, 8, length))
        return false;
    const u32 properties = getLE32(buffer, sectionOffset + 4);

    bool titleKnown = !found.name.empty();
    bool typeKnown = !found.type.empty();
    bool timeKnown = found.time != NO_TIME;
    u16 codePage = 0xFFFF;
    u64 pos = sectionOffset + 8;
    for (u32 i = 0;
         i < properties && fits(pos, 8, length) && !(titleKnown && typeKnown && timeKnown);
         ++i, pos += 8) {
        const u32 id = getLE32(buffer, pos);
        const u64 value = sectionOffset + getLE32(buffer, pos + 4);
        std::string text;
        bool wide = false;
        if (!titleKnown && id == 1) {
            readInt16Property(buffer, length, value, codePage);
        } else if (!titleKnown && id == 2) {
            if (readStringProperty(buffer, length, value, text, wide)) {
                if (!wide && codePage != 0xFFFF && codePage != 65001) {
                    const std::string charset = "CP" + std::to_string(codePage);
                    found.name = convertToUtf8(text.data(), text.size(), charset.c_str());
                } else {
                    found.name = text;
                }
            }
            titleKnown = true;
            if (!typeKnown && found.name == "Installation Database")
                found.type = "msi";
        } else if (!timeKnown && id == 13) {
            u64 fileTime = 0;
            if (readTimeProperty(buffer, length, value, fileTime)) {
                const u32 time = fileTimeToTime(fileTime);
                if (time != NO_TIME)
                    found.time = time;
            }
            timeKnown = true;
        } else if (!typeKnown && id == 18) {
            if (readStringProperty(buffer, length, value, text, wide))
                found.type = typeOfApplication(text);
            typeKnown = true;
        }
        typeKnown = typeKnown || !found.type.empty();
    }
    return true;
}

} // namespace

FileModule* createFileModuleOle() {
    return new FileModuleOle();
}

} // namespace cbr
