#include "tests/support/HostileScans.h"

#include "analysis/Serializer.h"
#include "cbr/FileInfo.h"
#include "core/CompressedFile.h"

#include <stdexcept>
#include <zlib.h>

namespace testutil {

namespace {

class Deflater {
public:
    Deflater() {
        if (deflateInit(&z_, 9) != Z_OK)
            throw std::runtime_error("deflateInit");
    }
    ~Deflater() { deflateEnd(&z_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // The compressed bytes of `data` up to the flush.
    std::string deflate(const std::string& data, int flush) {
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z_.avail_in = static_cast<uInt>(data.size());
        std::string out;
        int rc;
        do {
            char chunk[1 << 16];
            z_.next_out = reinterpret_cast<Bytef*>(chunk);
            z_.avail_out = sizeof chunk;
            rc = ::deflate(&z_, flush);
            if (rc == Z_STREAM_ERROR)
                throw std::runtime_error("deflate");
            out.append(chunk, sizeof chunk - z_.avail_out);
        } while (z_.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
        return out;
    }

private:
    z_stream z_{};
};

uLong adlerOf(uLong adler, const std::string& data) {
    return adler32(adler, reinterpret_cast<const Bytef*>(data.data()),
                   static_cast<uInt>(data.size()));
}

} // namespace

std::string repeatedCompressedFile(const std::string& prefix, const std::string& unit, u64 copies,
                                   const std::string& suffix) {
    const u64 length = prefix.size() + unit.size() * copies + suffix.size();
    if (length > 0xFFFFFFFFu || unit.size() > 0xFFFFFFFFu)
        throw std::runtime_error("repeatedCompressedFile: content of 4 GiB or more");
    // A full flush leaves no reference back to earlier data and starts the
    // compressor afresh, so each copy of the unit compresses to the same bytes;
    // the second copy's bytes are checked against the third's.
    Deflater z;
    std::string stream = z.deflate(prefix, Z_FULL_FLUSH);
    const std::string once = z.deflate(unit, Z_FULL_FLUSH);
    if (z.deflate(unit, Z_FULL_FLUSH) != once)
        throw std::runtime_error("repeatedCompressedFile: the copies compress differently");
    stream.reserve(stream.size() + once.size() * copies + suffix.size() + 64);
    for (u64 i = 0; i < copies; ++i)
        stream += once;
    std::string end = z.deflate(suffix, Z_FINISH);
    // The trailer was summed over two copies; the content has `copies`.
    uLong adler = adlerOf(adler32(0, nullptr, 0), prefix);
    const uLong unitAdler = adlerOf(adler32(0, nullptr, 0), unit);
    for (u64 i = 0; i < copies; ++i)
        adler = adler32_combine(adler, unitAdler, static_cast<z_off_t>(unit.size()));
    adler = adlerOf(adler, suffix);
    for (int i = 0; i < 4; ++i)
        end[end.size() - 4 + i] = static_cast<char>(adler >> (8 * (3 - i)));
    stream += end;

    std::string file = littleEndian(length, 4) + littleEndian(length, 4) + stream;
    xorChainForward(reinterpret_cast<u8*>(&file[0]), file.size());
    return file;
}

std::string littleEndian(u64 value, unsigned width) {
    std::string out;
    for (unsigned i = 0; i < width; ++i)
        out += static_cast<char>(value >> (8 * i));
    return out;
}

std::string savedScanStream(const std::string& tail) {
    // Version 4, no drive id, range 0 to 0, six empty lists.
    return littleEndian(4, 2) + std::string(2 + 4 + 4 + 6 * 4, '\0') + tail;
}

std::vector<HostileScan> hostileScans() {
    constexpr u64 MIB = 1 << 20;
    std::vector<HostileScan> scans;

    // A gigabyte of runs, all the same one.
    std::string runs;
    while (runs.size() < MIB)
        runs += std::string("\0\0\x03\xE8\0\0\0\x01", 8);
    const u64 runCopies = 1000;
    scans.push_back(
        {"a gigabyte of unreadable runs",
         repeatedCompressedFile(savedScanStream(littleEndian(runs.size() * runCopies, 4)), runs,
                                runCopies, littleEndian(0, 4))});

    // A sound scan with a find, a run and a carved file, then zeros to 4 GiB.
    std::string sound;
    Serializer s(&sound);
    s.writeEscapedU16(SAVED_SCAN_VERSION);
    s.writeEscapedU16(0);
    s.writeEscapedU32(0);
    s.writeEscapedU32(64);
    s.writeU32(0);
    s.writeU32(0);
    s.writeU32(1);
    serializeFoundStructure(s, FoundFatSector{32, FAT16});
    for (int list = 3; list < 6; ++list)
        s.writeU32(0);
    s.writeU32(8);
    s.writeBytes(std::string("\0\0\0\x28\0\0\0\x02", 8));
    s.writeEscapedU32(1);
    s.writeU64(48 * 512);
    s.writeEscapedU32(1000);
    s.writeEscapedU8(0);
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
    const u64 perUnit = 80000;
    for (u64 i = 0; i < perUnit; ++i)
        files += record;
    const u64 fileCount = 20000000;
    scans.push_back(
        {"twenty million carved files",
         repeatedCompressedFile(savedScanStream(littleEndian(0, 4) + littleEndian(fileCount, 4)),
                                files, fileCount / perUnit, "")});
    return scans;
}

} // namespace testutil
