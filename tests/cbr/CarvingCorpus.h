#pragma once

// Files of every kind the carver knows, made once per test run: by real tools
// where Debian has one (ImageMagick, jpegtran, libtiff's tiffset, lame, sox,
// ffmpeg, mpeg2enc, zip, arj, gsf, msibuild, Python's zipfile), by small
// generators here where it has none (RAR 4, LHA, DBX, CRW, MRW, WMF, RIFF MIDI
// and cursor forms) and in carving_shapes.py (pages), and the helpers that lay
// them into disk images.

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

    // Whole files whose own members, tags or atoms start a sector.
    Sample memberZip;     // by zip: the 4th of 8 members
    Sample lastMemberZip; // by Python's zipfile: the last of 8 members
    Sample bodyHtml;      // "<body" at byte 1024
    Sample titleHtml;     // "<title" at byte 512
    Sample bodyXhtml;     // "<?xml" ... "<html>", "<body" at byte 1024
    Sample memberLzh;     // the 3rd of 5 stored level-0 members
    Sample mediaMp4;      // ffmpeg's, its free atom grown so that mdat starts at byte 4096
    Sample reservedMp4;   // ffmpeg's -moov_size, moov first, mdat from byte 4096 on
    // 40 small movies by ffmpeg of varied sizes, rates, lengths and qualities:
    // MPEG-4 video, in MOV files mostly with PCM sound and in MP4 files, some
    // with their movie atom first; each with its media data or its movie atom
    // on a sector start.
    std::vector<Sample> cardMovies;
    // The first five and an LZH with nothing on a sector start; ffmpeg's fast
    // start; a MOV whose moov is its last atom.
    std::vector<Sample> controls;
    // 40 ZIP archives of 3 to 3,000 members of random sizes, by zip and by
    // Python's zipfile, stored and deflated, 20 pages and 10 LZH archives,
    // each with a later member or tag on a sector start; in the order to lay.
    std::vector<Sample> manyArchives;
};
const ShapeFiles& shapeFiles();

// Little- and big-endian fields.
std::string le(u64 value, unsigned width);
std::string be(u64 value, unsigned width);
// Bytes of a fixed pseudo-random sequence: what a used disk holds between files.
std::string noise(std::size_t n, u32 seed);

// The movie with a free atom behind it that fills its last sector.
Sample endingOnASector(const Sample& movie);

// An image of noise holding the samples, each at a sector start with a few
// sectors of noise behind it; `starts` receives where each one lies.
std::string layOut(const std::vector<Sample>& samples, std::vector<u64>& starts);

} // namespace corpus
