#include "tests/support/HostileScans.h"

#include "analysis/DriveDescr.h"
#include "analysis/Serializer.h"
#include "core/CompressedFile.h"

#include <stdexcept>
#include <zlib.h>

namespace testutil {

namespace {

std::string littleEndian(u64 value, unsigned width) {
    std::string out;
    for (unsigned i = 0; i < width; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

uLong adlerOf(uLong adler, const std::string& data) {
    return adler32(adler, reinterpret_cast<const Bytef*>(data.data()),
                   static_cast<uInt>(data.size()));
}

// The image of a compressed file (both length words, the zlib stream, the byte
// chain) whose content is prefix, then `unit` `copies` times, then suffix,
// below 4 GiB in all.
std::string repeatedCompressedFile(const std::string& prefix, const std::string& unit, u64 copies,
                                   const std::string& suffix) {
    const u64 length = prefix.size() + unit.size() * copies + suffix.size();
    z_stream z{};
    if (length > 0xFFFFFFFFu || deflateInit(&z, 9) != Z_OK)
        throw std::runtime_error("repeatedCompressedFile");
    auto deflate = [&z](const std::string& data, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = static_cast<uInt>(data.size());
        std::string out;
        int rc;
        do {
            char chunk[1 << 16];
            z.next_out = reinterpret_cast<Bytef*>(chunk);
            z.avail_out = sizeof chunk;
            rc = ::deflate(&z, flush);
            out.append(chunk, sizeof chunk - z.avail_out);
        } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        return out;
    };
    // A full flush leaves no reference back to earlier data and starts the
    // compressor afresh, so each copy of the unit compresses to the same bytes.
    std::string stream = deflate(prefix, Z_FULL_FLUSH);
    const std::string once = deflate(unit, Z_FULL_FLUSH);
    if (deflate(unit, Z_FULL_FLUSH) != once)
        throw std::runtime_error("repeatedCompressedFile: the copies compress differently");
    for (u64 i = 0; i < copies; ++i)
        stream += once;
    std::string end = deflate(suffix, Z_FINISH);
    deflateEnd(&z);
    // The trailer was summed over two copies; the content has `copies`.
    uLong adler = adlerOf(adler32(0, nullptr, 0), prefix);
    const uLong unitAdler = adlerOf(adler32(0, nullptr, 0), unit);
    for (u64 i = 0; i < copies; ++i)
        adler = adler32_combine(adler, unitAdler, static_cast<z_off_t>(unit.size()));
    adler = adlerOf(adler, suffix);
    for (int i = 0; i < 4; ++i)
        end[end.size() - 4 + i] = static_cast<char>(adler >> (8 * (3 - i)));
    std::string file = littleEndian(length, 4) + littleEndian(length, 4) + stream + end;
    xorChainForward(reinterpret_cast<u8*>(&file[0]), file.size());
    return file;
}

// Version 4, no drive id, range 0 to 0.
const std::string HEAD = littleEndian(4, 2) + std::string(2 + 4 + 4, '\0');

} // namespace

std::vector<HostileScan> hostileScans() {
    constexpr u64 MIB = 1 << 20;
    // Six empty lists; then the runs.
    const std::string empty = HEAD + std::string(6 * 4, '\0');
    std::vector<HostileScan> scans;

    // A gigabyte of runs, all the same one.
    std::string runs;
    while (runs.size() < MIB)
        runs += std::string("\0\0\x03\xE8\0\0\0\x01", 8);
    scans.push_back({"a gigabyte of unreadable runs",
                     repeatedCompressedFile(empty + littleEndian(runs.size() * 1000, 4), runs, 1000,
                                            littleEndian(0, 4))});

    // A sound scan with a find, a run and a carved file, then zeros to 4 GiB.
    DriveDescr d;
    d.getScanRange().setSecond(64);
    d.getScanResults().fatSectors.insert(FoundFatSector{32, FAT16});
    d.getScanResults().unreadable.runs().push_back(SectorRun{40, 2});
    d.getCarvedFiles().resize(1);
    d.getCarvedFiles()[0].setStart(48 * 512);
    d.getCarvedFiles()[0].setSize(1000);
    std::string sound;
    Serializer s(&sound);
    serializeScan(s, d);
    const u64 zeros = 0xFFFFFFFFu - sound.size();
    scans.push_back({"a sound scan and 4 GiB of zeros",
                     repeatedCompressedFile(sound, std::string(MIB, '\0'), zeros / MIB,
                                            std::string(zeros % MIB, '\0'))});

    // Twenty million carved files, all alike.
    cbr::FileInfo file;
    file.setType("jpg");
    std::string record;
    Serializer r(&record);
    r.writeU64(0);
    r.writeEscapedU32(1000);
    r.writeEscapedU8(file.getAttributes().bytes().size());
    r.writeBytes(file.getAttributes().bytes());
    std::string files;
    for (int i = 0; i < 80000; ++i)
        files += record;
    scans.push_back({"twenty million carved files",
                     repeatedCompressedFile(empty + littleEndian(0, 4) + littleEndian(20000000, 4),
                                            files, 20000000 / 80000, "")});
    return scans;
}

std::string bootSectorsOfNoKind(unsigned millions) {
    // A record is its LBA and its kind; a million bytes hold 200,000 of them.
    const u64 count = u64(millions) * 1000000;
    return repeatedCompressedFile(HEAD + littleEndian(0, 4) + littleEndian(count, 4),
                                  std::string(1000000, '\0'), u64(millions) * 5,
                                  std::string(4 * 4 + 4 + 4, '\0'));
}

} // namespace testutil
