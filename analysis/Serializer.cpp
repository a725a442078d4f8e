#include "analysis/Serializer.h"

#include "analysis/DriveDescr.h"
#include "core/CompressedFile.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"

#include <cerrno>

namespace {

template <typename List> void serializeFoundList(Serializer& s, const List& list) {
    s.writeU32(static_cast<u32>(list.size()));
    for (const auto& find : list)
        serializeFoundStructure(s, find);
}

} // namespace

void Serializer::writeLE(u64 value, unsigned width) {
    for (unsigned i = 0; i < width; ++i)
        out_->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void Serializer::writeU8(u8 value) {
    writeLE(value, 1);
}

void Serializer::writeU16(u16 value) {
    writeLE(value, 2);
}

void Serializer::writeU32(u32 value) {
    writeLE(value, 4);
}

void Serializer::writeU64(u64 value) {
    writeLE(value, 8);
}

void Serializer::writeBytes(const std::string& bytes) {
    out_->append(bytes);
}

void Serializer::writeEscaped(u64 value, unsigned width) {
    if (value < escapeMarker(width)) {
        writeLE(value, width);
        return;
    }
    writeLE(escapeMarker(width), width);
    writeU64(value);
}

void Serializer::writeEscapedU8(u64 value) {
    writeEscaped(value, 1);
}

void Serializer::writeEscapedU16(u64 value) {
    writeEscaped(value, 2);
}

void Serializer::writeEscapedU32(u64 value) {
    writeEscaped(value, 4);
}

void serializeFoundStructure(Serializer& s, const FoundPartitionTable& find) {
    s.writeU32(find.lba);
    for (const FoundPartitionEntry& e : find.entries) {
        s.writeU8(e.type);
        s.writeU32(e.startLba);
        s.writeU32(e.sectorCount);
    }
}

void serializeFoundStructure(Serializer& s, const FoundBootSector& find) {
    s.writeU32(find.lba);
    s.writeU8(static_cast<u8>(find.params.kind));
    if (find.params.kind == FS_FAT) {
        const FatBootParams& f = find.params.fat;
        s.writeU32(f.totalSectors);
        s.writeU32(f.sectorsPerCluster);
        s.writeU32(f.sectorsPerFAT);
        s.writeU32(f.reservedSectors);
        s.writeU32(f.rootEntries);
        s.writeU32(f.rootCluster);
        s.writeU32(f.dataLbaOffset);
        s.writeU32(f.rootDirectoryLbaOffset);
        s.writeU16(static_cast<u16>(f.bytesPerSector));
    } else if (find.params.kind == FS_NTFS) {
        const NtfsBootParams& n = find.params.ntfs;
        s.writeU64(n.totalSectors);
        s.writeU8(n.sectorsPerCluster);
        s.writeU64(n.MFTCluster);
        s.writeU64(n.MFTMirrCluster);
        s.writeU8(n.sectorsPerFileRecord);
    }
}

void serializeFoundStructure(Serializer& s, const FoundFatSector& find) {
    s.writeU32(find.lba);
    s.writeU8(static_cast<u8>(find.fatType));
}

void serializeFoundStructure(Serializer& s, const FoundDirectoryRun& find) {
    s.writeU32(find.lba);
    s.writeU32(find.sectorCount);
    s.writeBool(find.startsWithDotEntries);
    s.writeBool(find.lastSlotInUse);
    s.writeU32(find.dotCluster);
    s.writeU32(find.dotDotCluster);
    s.writeU32(find.highestCluster);
}

void serializeFoundStructure(Serializer& s, const FoundNtfsSystemRecord& find) {
    s.writeU32(find.lba);
    s.writeU8(static_cast<u8>(find.info.which));
    s.writeU64(find.info.lcn);
    s.writeU64(find.info.size);
}

void serializeFoundStructure(Serializer& s, const FoundRecordRun& find) {
    s.writeU32(find.lba);
    s.writeU16(find.recordSectors);
    s.writeU32(find.recordCount);
}

void serializeScanResults(Serializer& s, const ScanResults& results) {
    serializeFoundList(s, results.partitionTables);
    serializeFoundList(s, results.bootSectors);
    serializeFoundList(s, results.fatSectors);
    serializeFoundList(s, results.directoryRuns);
    serializeFoundList(s, results.ntfsSystemRecords);
    serializeFoundList(s, results.ntfsRecordRuns);
    std::string runs;
    results.unreadable.toBytes(runs);
    s.writeU32(static_cast<u32>(runs.size()));
    s.writeBytes(runs);
}

void serializeScan(Serializer& s, const DriveDescr& d) {
    const ScanRange& range = d.getScanRange();
    const std::string& driveId = range.getDriveId();
    s.writeEscapedU16(SAVED_SCAN_VERSION);
    s.writeEscapedU16(driveId.size());
    s.writeEscapedU32(range.getFirst());
    s.writeEscapedU32(range.getSecond());
    s.writeBytes(driveId);
    serializeScanResults(s, d.getScanResults());
    const std::vector<cbr::FileInfo>& files = d.getCarvedFiles();
    s.writeEscapedU32(files.size());
    for (const cbr::FileInfo& file : files) {
        const std::string& attributes = file.getAttributes().bytes();
        s.writeU64(file.getStart());
        s.writeEscapedU32(file.getSize());
        s.writeEscapedU8(attributes.size());
        s.writeBytes(attributes);
    }
}

bool saveScan(const char* path, DriveDescr& d, FrTreeInterface* interface) {
    std::string data;
    Serializer s(&data);
    serializeScan(s, d);
    if (!saveCompressedFile(path, reinterpret_cast<const u8*>(data.data()), data.size())) {
        const int code = errno;
        logAt("DriveDescrFile", 171)
            << ": " << path << ' ' << data.size() << ' ' << errorText(code) << '\n';
        if (interface != nullptr) {
            const std::string text =
                std::string(_("Cannot Save Scan")) + "\n(" + path + ")\n" + writeFailureText(code);
            interface->message(false, text.c_str(), false, nullptr);
        }
        return false;
    }
    d.setScanSaved(true);
    return true;
}
