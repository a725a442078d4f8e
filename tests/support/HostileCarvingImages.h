#pragma once

// Images that attack the content carver, made by hand from the formats'
// published layouts: every sector starts a header of one kind whose structure
// runs on into the next sector (a chunk, atom, member or directory that
// reaches there) and so on to the end of the image. Without a memory of its
// walks, the carver walks the rest of the image again from every sector; with
// found files that run to the end, it reports a file from every sector.

#include "core/Types.h"

#include <string>
#include <vector>

namespace hostile {

// The kinds, by the carver's type names, with a variant where a module has two
// walks ("mpeg-video", "mpeg-program"), XML documents whose root elements
// cycle through 17 names ("xml-roots"), and, for PNG, JPEG, ZIP and MOV, two
// chains interleaved ("png-interleaved"...): each header reaches the next
// header but one, so that the even sectors make one chain and the odd ones
// another.
std::vector<std::string> kinds();

// The kinds whose chain can also end properly (Ending::AT_THE_END); the others
// build the same image either way.
std::vector<std::string> endingKinds();

// How the chain of an image ends: not at all (it runs into the image's end), or
// properly in the last sector (an end record, a trailer, a closing tag), so
// that every sector starts a file that reaches the end. Interleaved chains
// each end in their last sector.
enum class Ending { NEVER, AT_THE_END };

// An image of `bytes` (cut to whole sectors) whose first `headers` sectors
// each start a header of `kind` (all of them by default); sectors after those
// are zeros. Throws std::invalid_argument for a kind not in kinds().
std::string image(const std::string& kind, u64 bytes, Ending ending = Ending::NEVER,
                  u64 headers = ~u64(0));

} // namespace hostile
