#pragma once

// Disk images laid out as cameras and copy tools leave files: each file from
// the sector after the one before on, no gaps, the rest of its last sector
// zeros; among them files whose end was written over by the next one, files
// that an interrupted recording left, and files split around another.

#include "tests/cbr/CarvingCorpus.h"

#include <string>
#include <vector>

namespace corpus {

// A whole file in an image, as the carver should find it.
struct Placed {
    std::string label;
    u64 start;
    u64 size;
    std::string module; // the registry name of the module that finds it
    std::string type;
};

class DiskImage {
public:
    // The file, to be found whole.
    DiskImage& whole(const Sample& file);
    // Its first sectors only: the rest was written over by what follows.
    DiskImage& cut(const Sample& file, u64 sectors);
    // Its first sectors, then `inner` (whole), then the rest of it.
    DiskImage& split(const Sample& outer, u64 sectors, const Sample& inner);
    // The file laid last holds `inner`, whole, from its byte `at` on.
    DiskImage& holding(const Sample& inner, u64 at);
    // Bytes that are no whole file.
    DiskImage& other(const std::string& bytes);
    DiskImage& zeros(u64 sectors);

    const std::string& bytes() const { return bytes_; }
    const std::vector<Placed>& wholeFiles() const { return whole_; }

private:
    std::string bytes_;
    std::vector<Placed> whole_;
};

// The first sectors of a movie whose recording stopped inside its media data:
// the media data's atom still has the size 0 ("to the end of the file") that
// the recorder writes first, and no movie atom follows it.
std::string interruptedRecording(const Sample& movie, u64 sectors);

} // namespace corpus
