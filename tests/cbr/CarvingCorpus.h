#pragma once

// Files of every kind the carver knows, made once per test run: by real tools
// where Debian has one (ImageMagick, jpegtran, libtiff's tiffset, lame, sox,
// ffmpeg, mpeg2enc, zip, arj, gsf, msibuild), by small generators here where
// it has none (RAR 4, LHA, DBX, CRW, MRW, WMF, RIFF MIDI and cursor forms), and
// the helpers that lay them into disk images.

#include "core/Types.h"

#include <string>
#include <vector>

namespace corpus {

struct Sample {
    std::string label;  // what it is, for failure messages
    std::string module; // the registry name whose analysis finds it
    std::string type;   // the "t" it gets
    std::string name;   // the "name" it gets; empty for none
    std::string bytes;
};

// The pictures: JPEG (baseline, progressive, restart markers), PNG, GIF (still,
// animated with local colour tables), BMP (v3, v5) and WMF.
const std::vector<Sample>& pictures();
// One file of every kind (the pictures included).
const std::vector<Sample>& everyKind();

// Little- and big-endian fields.
std::string le(u64 value, unsigned width);
std::string be(u64 value, unsigned width);
// Bytes of a fixed pseudo-random sequence: what a used disk holds between files.
std::string noise(std::size_t n, u32 seed);

// An image of noise holding the samples, each at a sector start with a few
// sectors of noise behind it; `starts` receives where each one lies.
std::string layOut(const std::vector<Sample>& samples, std::vector<u64>& starts);

} // namespace corpus
