#include "analysis/Unserializer.h"

#include "analysis/DriveDescr.h"
#include "analysis/Serializer.h"
#include "core/Array.h"
#include "core/Checked.h"
#include "core/CompressedFile.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"
#include "fs/FatLayout.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

// The fewest bytes a record of each list takes, so that a count can be checked
// against what is left before any record is read.
constexpr u64 LBA_BYTES = 4;
constexpr u64 MIN_TABLE = LBA_BYTES + 4 * 9;
constexpr u64 MIN_BOOT = LBA_BYTES + 1;
constexpr u64 MIN_FAT = LBA_BYTES + 1;
constexpr u64 MIN_DIRECTORY = LBA_BYTES + 4 + 1 + 1 + 3 * 4;
constexpr u64 MIN_SYSTEM_RECORD = LBA_BYTES + 1 + 8 + 8;
constexpr u64 MIN_RECORD_RUN = LBA_BYTES + 2 + 4;
// An unreadable run: u32 start and count, big-endian.
constexpr u32 RUN_BYTES = 8;
constexpr u64 LBA_LIMIT = u64(1) << 32;
// u64 start, a four-byte size and a one-byte attribute length.
constexpr u64 MIN_CARVED_FILE = 8 + 4 + 1;
// What a compressed file is inflated by at a time.
constexpr u32 WINDOW = 1 << 16;
// A node of a std::set beyond its value (three links and a colour) and the
// allocator's own word, rounded up.
constexpr u64 SET_NODE_BYTES = 48;
// A std::string's heap block beyond its bytes.
constexpr u64 STRING_BYTES = 32;

[[noreturn]] void damaged() {
    throw std::runtime_error("Unserializer");
}

// A count of records that cannot all be in the bytes left is damage, and so is
// one that the source cannot hold: caught here, it sizes nothing.
u64 checkedCount(const Unserializer& u, u64 count, u64 minRecordBytes, u64 limit,
                 const char* what) {
    if (count > u.remaining() / minRecordBytes)
        damaged();
    if (count > limit) {
        logAt("DriveDescrFile", 233)
            << ": " << count << ' ' << what << " on a source of " << limit << " sectors\n";
        damaged();
    }
    return count;
}

// Makes room for one more element, counting what the vector allocates: it
// grows by doubling as the records really come, never by a claimed count.
template <typename T> void roomForOne(Unserializer& u, std::vector<T>& v) {
    if (v.size() < v.capacity())
        return;
    const std::size_t capacity = std::max<std::size_t>(64, v.capacity() * 2);
    u.claim(capacity * sizeof(T));
    v.reserve(capacity);
}

// Records dropped for one reason are logged in one line, with their count and
// where the first was: a file can hold billions of them, and a line each would
// fill memory with the log.
class DroppedRecords {
public:
    struct Reason {
        const char* why;
        u64 count;
        u64 first;
    };

    void drop(const char* why, u64 where) {
        for (Reason& r : reasons_) {
            if (r.why == why || std::strcmp(r.why, why) == 0) {
                ++r.count;
                return;
            }
        }
        reasons_.push_back(Reason{why, 1, where});
    }
    // In the order they were first met; a handful at most.
    const std::vector<Reason>& reasons() const { return reasons_; }

private:
    std::vector<Reason> reasons_;
};

bool isPowerOfTwo(u64 v) {
    return v != 0 && (v & (v - 1)) == 0;
}

// Why a record that no scan of a source of `sectors` sectors makes is dropped;
// null for a sound one. Later steps divide by these sizes and read by these
// lengths.
const char* flaw(const FoundPartitionTable& f, u64 sectors) {
    return f.lba < sectors ? nullptr : "LBA outside the source";
}
const char* flaw(const FoundBootSector& f, u64 sectors) {
    if (f.lba >= sectors)
        return "LBA outside the source";
    if (f.params.kind == FS_FAT) {
        if (f.params.fat.bytesPerSector != 0 && !isFatSectorSize(f.params.fat.bytesPerSector))
            return "sector size";
        return isPowerOfTwo(f.params.fat.sectorsPerCluster) ? nullptr : "sectors per cluster";
    }
    if (f.params.kind != FS_NTFS)
        return "no FAT or NTFS kind";
    if (!isPowerOfTwo(f.params.ntfs.sectorsPerCluster))
        return "sectors per cluster";
    return isPowerOfTwo(f.params.ntfs.sectorsPerFileRecord) ? nullptr : "sectors per record";
}
const char* flaw(const FoundFatSector& f, u64 sectors) {
    if (f.lba >= sectors)
        return "LBA outside the source";
    return f.fatType >= FAT12 && f.fatType <= FAT16_32 ? nullptr : "no FAT type";
}
const char* flaw(const FoundDirectoryRun& f, u64 sectors) {
    return f.sectorCount != 0 && fits(f.lba, f.sectorCount, sectors) ? nullptr : "run length";
}
const char* flaw(const FoundNtfsSystemRecord& f, u64 sectors) {
    if (f.lba >= sectors)
        return "LBA outside the source";
    return f.info.which >= NTFS_MFT_RECORD && f.info.which <= NTFS_BITMAP_RECORD
               ? nullptr
               : "no system record";
}
const char* flaw(const FoundRecordRun& f, u64 sectors) {
    if (!isPowerOfTwo(f.recordSectors))
        return "sectors per record";
    return f.recordCount != 0 && fits(f.lba, saturatingMul(f.recordSectors, f.recordCount), sectors)
               ? nullptr
               : "run length";
}

template <typename List>
void unserializeFoundList(Unserializer& u, List& list, u64 minBytes, u32 number, u64 sectors) {
    // A scan from a larger source may hold more finds than this one has
    // sectors: those outside it are dropped below.
    const u64 count = checkedCount(u, u.readU32(), minBytes, ~u64(0), "finds");
    DroppedRecords dropped;
    // Every field is read into it: one find for all records of the list.
    typename List::value_type find;
    for (u64 i = 0; i < count; ++i) {
        unserializeFoundStructure(u, find);
        if (const char* why = flaw(find, sectors)) {
            dropped.drop(why, find.lba);
            continue;
        }
        // Sorted input goes in at the end in constant time.
        const std::size_t had = list.size();
        list.insert(list.end(), find);
        if (list.size() != had)
            u.claim(sizeof find + SET_NODE_BYTES);
    }
    for (const DroppedRecords::Reason& r : dropped.reasons())
        logAt("DriveDescrFile", 230)
            << ": list " << number << ", " << r.count << " records dropped: " << r.why
            << ", the first at LBA " << r.first << '\n';
}

// Everything of a saved scan, read before any of it replaces the current scan.
struct SavedScan {
    std::string driveId;
    u64 first = 0;
    u64 second = 0;
    ScanResults results;
    std::vector<cbr::FileInfo> carvedFiles;
};

// The carved files of a source of `sectors` sectors (none: no limit).
void unserializeCarvedFiles(Unserializer& u, std::vector<cbr::FileInfo>& files, u64 sectors) {
    const u64 count = checkedCount(u, u.readEscapedU32(), MIN_CARVED_FILE, sectors, "carved files");
    const u64 sourceBytes = saturatingMul(sectors, SECTOR_BYTES);
    DroppedRecords dropped;
    bool ordered = true;
    for (u64 i = 0; i < count; ++i) {
        const u64 start = u.readU64();
        const u64 size = u.readEscapedU32();
        // A file that ends past 2^64 bytes was never on any source.
        if (size > ~u64(0) - start)
            damaged();
        std::string attributes = u.readBytes(u.readEscapedU8());
        // The scanner reports files from sector starts only, and the tree reads
        // a file from its first sector: one listed elsewhere would come back
        // with the bytes before it.
        const char* why = start % SECTOR_BYTES != 0 ? "not at a sector start"
                          : start >= sourceBytes    ? "outside the source"
                                                    : nullptr;
        if (why != nullptr) {
            dropped.drop(why, start);
            continue;
        }
        ordered = ordered && (files.empty() || files.back().getStart() <= start);
        roomForOne(u, files);
        files.emplace_back();
        cbr::FileInfo& file = files.back();
        file.setStart(start);
        file.setSize(size);
        file.getAttributes().setBytes(attributes);
    }
    for (const DroppedRecords::Reason& r : dropped.reasons())
        logAt("DriveDescrFile", 232) << ": " << r.count << " carved files dropped: " << r.why
                                     << ", the first at byte " << r.first << '\n';
    // The carved files are kept in ascending order of start; our own files are,
    // and a file put together otherwise is brought into it (the sort borrows a
    // buffer as large as the list).
    if (!ordered) {
        u.claim(files.size() * sizeof(cbr::FileInfo));
        std::stable_sort(files.begin(), files.end(),
                         [](const cbr::FileInfo& a, const cbr::FileInfo& b) {
                             return a.getStart() < b.getStart();
                         });
    }
}

// The saved drive id as it can stand in a message: the file's bytes may be any
// bytes at all. (The interface escapes it for the box, which reads markup.)
std::string displayableDriveId(const std::string& id) {
    gchar* valid = g_utf8_make_valid(id.data(), static_cast<gssize>(id.size()));
    std::string text(valid);
    g_free(valid);
    return text;
}

// The units that formatSize writes after a size, in every language.
constexpr const char* SIZE_UNITS[] = {"KB", "MB", "GB", "TB"};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool unitAt(const std::string& text, std::size_t at) {
    for (const char* unit : SIZE_UNITS)
        if (text.compare(at, 2, unit) == 0)
            return true;
    return false;
}

// The bytes of a decimal separator at `at`: a comma or a point (the three
// languages write no other); 0 for none.
std::size_t separatorAt(const std::string& text, std::size_t at) {
    return at < text.size() && (text[at] == ',' || text[at] == '.') ? 1 : 0;
}

// A source's identifying text holds its size as it was written in the language
// of the session that made it: "177.2MB" in English, "177,2MB" in German. The
// text with a point in every such size is the same in every language.
std::string withSizePoints(const std::string& id) {
    std::string out;
    out.reserve(id.size());
    for (std::size_t i = 0; i < id.size();) {
        if (!isDigit(id[i])) {
            out += id[i++];
            continue;
        }
        std::size_t end = i;
        while (end < id.size() && isDigit(id[end]))
            ++end;
        out.append(id, i, end - i);
        i = end;
        const std::size_t separator = separatorAt(id, end);
        std::size_t fraction = end + separator;
        while (fraction < id.size() && isDigit(id[fraction]))
            ++fraction;
        if (separator != 0 && fraction > end + separator && unitAt(id, fraction)) {
            out += '.';
            out.append(id, end + separator, fraction - end - separator);
            i = fraction;
        }
    }
    return out;
}

bool sameSource(const std::string& savedId, const std::string& currentId) {
    return savedId == currentId || withSizePoints(savedId) == withSizePoints(currentId);
}

} // namespace

Unserializer::Unserializer(const u8* data, u32 size)
    : data_(data), size_(size), length_(size),
      allowance_(ALLOWANCE_FLOOR + ALLOWANCE_PER_BYTE * size) {}

Unserializer::Unserializer(CompressedFile& file)
    : data_(nullptr), size_(0), length_(file.claimedLength()), file_(&file),
      allowance_(ALLOWANCE_FLOOR + saturatingMul(ALLOWANCE_PER_BYTE, file.fileSize())) {}

void Unserializer::refill(u64 n) {
    if (file_ == nullptr || n > remaining())
        damaged();
    // The bytes not yet read move to the front of the window, and the file is
    // inflated behind them until the field is whole.
    const u32 kept = size_ - position_;
    if (kept != 0)
        std::memmove(window_.data(), data_ + position_, kept);
    if (window_.size() < std::max<u64>(WINDOW, n))
        window_.resize(std::max<u64>(WINDOW, n));
    consumed_ += position_;
    position_ = 0;
    size_ = kept;
    data_ = window_.data();
    while (size_ < n) {
        const i64 got =
            file_->read(window_.data() + size_, static_cast<u32>(window_.size() - size_));
        if (got <= 0)
            damaged();
        size_ += static_cast<u32>(got);
    }
}

bool Unserializer::atEnd() {
    if (position_ != size_)
        return false;
    return file_ == nullptr || file_->atEnd();
}

void Unserializer::claim(u64 bytes) {
    claimed_ = saturatingAdd(claimed_, bytes);
    if (claimed_ > allowance_) {
        logAt("DriveDescrFile", 235)
            << ": more than " << allowance_ << " bytes for a stream of "
            << (file_ != nullptr ? file_->fileSize() : length_) << " bytes\n";
        damaged();
    }
}

u64 Unserializer::readLE(unsigned width) {
    need(width);
    u64 value = 0;
    for (unsigned i = 0; i < width; ++i)
        value |= static_cast<u64>(data_[position_ + i]) << (8 * i);
    position_ += width;
    return value;
}

u8 Unserializer::readU8() {
    return static_cast<u8>(readLE(1));
}

u16 Unserializer::readU16() {
    return static_cast<u16>(readLE(2));
}

u32 Unserializer::readU32() {
    return static_cast<u32>(readLE(4));
}

u64 Unserializer::readU64() {
    return readLE(8);
}

u32 Unserializer::readBE32() {
    need(4);
    const u32 value = getBE32(data_, position_);
    position_ += 4;
    return value;
}

std::string Unserializer::readBytes(u64 n) {
    if (n > MAX_BYTES)
        damaged();
    need(n);
    if (n > 15)
        claim(n + STRING_BYTES);
    std::string bytes(reinterpret_cast<const char*>(data_) + position_, n);
    position_ += static_cast<u32>(n);
    return bytes;
}

u64 Unserializer::readEscaped(unsigned width) {
    const u64 value = readLE(width);
    return value < escapeMarker(width) ? value : readU64();
}

u64 Unserializer::readEscapedU8() {
    return readEscaped(1);
}

u64 Unserializer::readEscapedU16() {
    return readEscaped(2);
}

u64 Unserializer::readEscapedU32() {
    return readEscaped(4);
}

void unserializeFoundStructure(Unserializer& u, FoundPartitionTable& find) {
    find.lba = u.readU32();
    for (FoundPartitionEntry& e : find.entries) {
        e.type = u.readU8();
        e.startLba = u.readU32();
        e.sectorCount = u.readU32();
    }
}

void unserializeFoundStructure(Unserializer& u, FoundBootSector& find) {
    find.lba = u.readU32();
    find.params = BootParams();
    find.params.kind = static_cast<FsKind>(u.readU8());
    if (find.params.kind == FS_FAT) {
        FatBootParams& f = find.params.fat;
        f.totalSectors = u.readU32();
        f.sectorsPerCluster = u.readU32();
        f.sectorsPerFAT = u.readU32();
        f.reservedSectors = u.readU32();
        f.rootEntries = u.readU32();
        f.rootCluster = u.readU32();
        f.dataLbaOffset = u.readU32();
        f.rootDirectoryLbaOffset = u.readU32();
        if (u.version() != SAVED_SCAN_VERSION_WITHOUT_SECTOR_SIZE)
            f.bytesPerSector = u.readU16();
    } else if (find.params.kind == FS_NTFS) {
        NtfsBootParams& n = find.params.ntfs;
        n.totalSectors = u.readU64();
        n.sectorsPerCluster = u.readU8();
        n.MFTCluster = u.readU64();
        n.MFTMirrCluster = u.readU64();
        n.sectorsPerFileRecord = u.readU8();
    }
}

void unserializeFoundStructure(Unserializer& u, FoundFatSector& find) {
    find.lba = u.readU32();
    find.fatType = static_cast<FatType>(u.readU8());
}

void unserializeFoundStructure(Unserializer& u, FoundDirectoryRun& find) {
    find.lba = u.readU32();
    find.sectorCount = u.readU32();
    find.startsWithDotEntries = u.readBool();
    find.lastSlotInUse = u.readBool();
    find.dotCluster = u.readU32();
    find.dotDotCluster = u.readU32();
    find.highestCluster = u.readU32();
}

void unserializeFoundStructure(Unserializer& u, FoundNtfsSystemRecord& find) {
    find.lba = u.readU32();
    find.info.which = u.readU8();
    find.info.lcn = u.readU64();
    find.info.size = u.readU64();
}

void unserializeFoundStructure(Unserializer& u, FoundRecordRun& find) {
    find.lba = u.readU32();
    find.recordSectors = u.readU16();
    find.recordCount = u.readU32();
}

void unserializeScanResults(Unserializer& u, ScanResults& results, u64 sectors) {
    sectors = std::min(sectors, LBA_LIMIT);
    unserializeFoundList(u, results.partitionTables, MIN_TABLE, 0, sectors);
    unserializeFoundList(u, results.bootSectors, MIN_BOOT, 1, sectors);
    unserializeFoundList(u, results.fatSectors, MIN_FAT, 2, sectors);
    unserializeFoundList(u, results.directoryRuns, MIN_DIRECTORY, 3, sectors);
    unserializeFoundList(u, results.ntfsSystemRecords, MIN_SYSTEM_RECORD, 4, sectors);
    unserializeFoundList(u, results.ntfsRecordRuns, MIN_RECORD_RUN, 5, sectors);
    // The runs are read straight into their list: one copy, cut to the source
    // (joined, a run past 2^32 would wrap around); a run left empty is dropped.
    const u64 blob = u.readU32();
    const u64 count = checkedCount(u, blob / RUN_BYTES, RUN_BYTES, sectors, "unreadable runs");
    SectorRuns runs;
    u64 dropped = 0;
    bool ordered = true;
    for (u64 i = 0; i < count; ++i) {
        const u64 start = u.readBE32();
        const u64 length = std::min<u64>(u.readBE32(), start < sectors ? sectors - start : 0);
        if (length == 0) {
            ++dropped;
            continue;
        }
        ordered = ordered && (runs.empty() || runs.back().end() < start);
        roomForOne(u, runs);
        runs.push_back(SectorRun{static_cast<u32>(start), static_cast<u32>(length)});
    }
    // The bytes after the last whole run belong to none.
    u.readBytes(blob % RUN_BYTES);
    if (dropped != 0)
        logAt("DriveDescrFile", 231) << ": " << dropped << " unreadable runs outside the source\n";
    // Sorts and joins the runs of a file that holds them otherwise.
    if (!ordered)
        sortAndJoinSectorRuns(runs);
    results.unreadable.runs().swap(runs);
}

namespace {

// How reading a saved scan ended; only LOADED has changed the scan.
enum class ReadOutcome { LOADED, DECLINED, NO_SCAN, OUT_OF_MEMORY };

ReadOutcome readSavedScan(Unserializer& u, DriveDescr& d, FrTreeInterface* interface) {
    SavedScan saved;
    std::string question;
    // What ended the reading early: damage, or memory that the system did not
    // give (the allowance lets a large file take more than a small machine has).
    bool damagedFile = false;
    bool outOfMemory = false;
    try {
        const u64 version = u.readEscapedU16();
        if (version != SAVED_SCAN_VERSION && version != SAVED_SCAN_VERSION_WITHOUT_SECTOR_SIZE) {
            logAt("DriveDescrFile", 190) << ": " << version << '\n';
            return ReadOutcome::NO_SCAN;
        }
        u.setVersion(version);
        const u64 idLength = u.readEscapedU16();
        saved.first = u.readEscapedU32();
        saved.second = u.readEscapedU32();
        saved.driveId = u.readBytes(idLength);
        // The source's size bounds every LBA and count; without a source, the
        // lists' own.
        const bool hasSource = static_cast<bool>(d.getDriveHolder());
        const u64 sectors = hasSource ? d.getDrive()->getSectorCount() : ~u64(0);
        unserializeScanResults(u, saved.results, std::min(sectors, LBA_LIMIT));
        unserializeCarvedFiles(u, saved.carvedFiles, sectors);
        if (!u.atEnd()) {
            logAt("DriveDescrFile", 234) << ": bytes after the last carved file\n";
            damaged();
        }
        if (!sameSource(saved.driveId, d.getScanRange().getDriveId()))
            question = std::string(_("This saved scan is from a different drive.")) + "\n(" +
                       displayableDriveId(saved.driveId) + ")\n" +
                       _("Do you want to Load the Scan anyway?");
    } catch (const std::runtime_error&) {
        damagedFile = true;
    } catch (const std::bad_alloc&) {
        outOfMemory = true;
    } catch (const std::length_error&) {
        outOfMemory = true;
    }
    if (damagedFile || outOfMemory) {
        // Nothing has been replaced yet: the file leaves the scan as it was. What
        // was read of it goes first, so that the log and the box have the
        // memory it held.
        saved = SavedScan();
        if (outOfMemory)
            logAt("DriveDescrFile", 236) << ": out of memory\n";
        logAt("DriveDescrFile", 241) << '\n';
        return outOfMemory ? ReadOutcome::OUT_OF_MEMORY : ReadOutcome::NO_SCAN;
    }

    if (!question.empty() &&
        (interface == nullptr || interface->message(true, question.c_str(), true, nullptr) != 0))
        return ReadOutcome::DECLINED;

    ScanRange& range = d.getScanRange();
    range.setDriveId(saved.driveId);
    range.setFirst(saved.first);
    range.setSecond(saved.second);
    ScanResults& results = d.getScanResults();
    // The unreadable sectors a scan in progress collects are not the file's.
    results.partitionTables.swap(saved.results.partitionTables);
    results.bootSectors.swap(saved.results.bootSectors);
    results.fatSectors.swap(saved.results.fatSectors);
    results.directoryRuns.swap(saved.results.directoryRuns);
    results.ntfsSystemRecords.swap(saved.results.ntfsSystemRecords);
    results.ntfsRecordRuns.swap(saved.results.ntfsRecordRuns);
    results.unreadable.runs().swap(saved.results.unreadable.runs());
    d.getCarvedFiles().swap(saved.carvedFiles);
    return ReadOutcome::LOADED;
}

// The last line of "Cannot Load Scan": the system's reason when it gave one
// (`error`), else what the content was found to be.
std::string loadFailureText(ReadOutcome outcome, int error) {
    if (error != 0)
        return errorText(error);
    if (outcome == ReadOutcome::OUT_OF_MEMORY)
        return errorText(ENOMEM);
    return _("The file is not a saved scan, or it is damaged.");
}

// The error box "Cannot Load Scan", with the file's path when there is one
// and `reason` on its last line (nothing without an interface).
void showCannotLoadScan(FrTreeInterface* interface, const char* path, const std::string& reason) {
    if (interface == nullptr)
        return;
    std::string text = _("Cannot Load Scan");
    if (path != nullptr)
        text = text + "\n(" + path + ")";
    text += "\n" + reason;
    interface->message(false, text.c_str(), false, nullptr);
}

} // namespace

bool readScan(const u8* data, u32 size, DriveDescr& d, FrTreeInterface* interface) {
    Unserializer u(data, size);
    return readScan(u, d, interface);
}

bool readScan(Unserializer& u, DriveDescr& d, FrTreeInterface* interface) {
    const ReadOutcome outcome = readSavedScan(u, d, interface);
    if (outcome == ReadOutcome::NO_SCAN || outcome == ReadOutcome::OUT_OF_MEMORY)
        showCannotLoadScan(interface, nullptr, loadFailureText(outcome, 0));
    return outcome == ReadOutcome::LOADED;
}

bool loadScan(const char* path, DriveDescr& d, FrTreeInterface* interface) {
    // Opening refuses a file that is no saved scan (a disk image picked by
    // mistake) by its first bytes, and reads any other once through in blocks
    // before any of it is decoded; the scan open before is not touched.
    std::unique_ptr<CompressedFile> file;
    int error = 0;
    try {
        file = std::make_unique<CompressedFile>();
        if (!file->open(path)) {
            error = file->error();
            file.reset();
        }
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
        file.reset();
    }
    if (!file) {
        showCannotLoadScan(interface, path, loadFailureText(ReadOutcome::NO_SCAN, error));
        logAt("DriveDescrFile", 256) << '\n';
        return false;
    }
    Unserializer u(*file);
    const ReadOutcome outcome = readSavedScan(u, d, interface);
    if (outcome != ReadOutcome::LOADED) {
        // A medium that fails while the stream is read ends it early too: the
        // system's reason beats "damaged".
        if (outcome != ReadOutcome::DECLINED)
            showCannotLoadScan(interface, path, loadFailureText(outcome, file->error()));
        logAt("DriveDescrFile", 261) << '\n';
        return false;
    }
    d.setScanSaved(true);
    return true;
}
