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

// The sample of everyKind() with that label; throws when there is none.
const Sample& sample(const std::string& label);

// Files for the shapes a disk leaves files in (CarvingLayouts.h): archives and
// a movie large enough to hold a small one of their kind, movies that end on a
// sector boundary, GIFs by the dozen, pages of several sectors.
struct ShapeFiles {
    Sample longMovie;                 // its media data takes 25 KB
    std::vector<Sample> sectorMovies; // the corpus's movies, a free atom filling their last sector
    Sample descriptorZip;             // its members use data descriptors (zip wrote to a pipe)
    Sample nestingZip;                // holds the corpus's "ZIP", stored from its byte 512 on
    Sample largeArj;                  // a stored member of 20,000 bytes each
    Sample largeRar;
    Sample largeLzh;
    std::vector<Sample> gifs; // 80 of 192 x 192 pixels in 216 colours, 4 to 10 KB each
    Sample longHtml;          // 3 KB, closed by its html tag
    Sample longXml;           // 3 KB, its root an svg
};
const ShapeFiles& shapeFiles();

// Little- and big-endian fields.
std::string le(u64 value, unsigned width);
std::string be(u64 value, unsigned width);
// Bytes of a fixed pseudo-random sequence: what a used disk holds between files.
std::string noise(std::size_t n, u32 seed);

// An image of noise holding the samples, each at a sector start with a few
// sectors of noise behind it; `starts` receives where each one lies.
std::string layOut(const std::vector<Sample>& samples, std::vector<u64>& starts);

} // namespace corpus
