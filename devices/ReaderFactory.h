#pragma once

// The reader chain of a source, built from its descriptor string: pairs
// "key=value" joined by "|". "type" picks the reader; composed sources (range,
// jbod, raid0, raid5) name their members by id in "components", and each id is
// looked up among the descriptors the caller knows, else opened as an image
// file. Every failure is shown to the user at once in an error box, and the
// call yields no reader.

#include "devices/DtReader.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _GtkWindow GtkWindow;

// The top level and nine levels of nested components are allowed.
constexpr int MAX_READER_DEPTH = 10;

// A new reader chain for `descriptor`, or null after an error box was shown.
// Top-level callers pass depth 0. Components that name the same id at the same
// level are built once and shared, so a descriptor cannot make the build
// explode by listing one member many times over several levels.
std::unique_ptr<dt::Reader> createReaderFromDescr(const std::vector<std::string>& known,
                                                  const char* descriptor, GtkWindow* parent,
                                                  int depth);
// The reader of one component id: the first known descriptor with that id, or
// else the image file of that name.
std::unique_ptr<dt::Reader> createComponentReader(const std::vector<std::string>& known,
                                                  const char* id, GtkWindow* parent, int depth);
// Builds every component of a ","-separated list, in order; false after the box
// of the first one that fails.
bool parseComponents(const std::vector<std::string>& known, const std::string& components,
                     dt::ReaderList& out, GtkWindow* parent, int depth);

// One leaf of a chain, opened read-only, or null after the "invalid file" box.
std::unique_ptr<dt::Reader> openDeviceReader(const char* path, const char* id, GtkWindow* parent);
std::unique_ptr<dt::Reader> openFileReader(const char* path, const char* id, GtkWindow* parent);

// "Cannot initialize <id>", and "(<reason>)" on a second line when a reason is
// given, in an error box over `parent`.
void reportReaderError(const char* id, const char* reason, GtkWindow* parent);
void reportWrongComponentCount(const char* id, GtkWindow* parent);

// Descriptor numbers: leading white space, an optional sign, then decimal digits
// up to the first other character; no digits read as 0, and values beyond 63
// bits stop at the largest (smallest) one.
i64 descriptorNumber(const std::string& text);

// Who opens the leaves of a chain. The fuzzer and tests install their own so
// that arbitrary descriptors never reach a real device or file.
enum class LeafKind { DEVICE, FILE };
using LeafOpener = std::function<std::unique_ptr<dt::Reader>(LeafKind kind, const char* path)>;
// Installs `opener` (empty restores the real one); returns the previous one.
LeafOpener setLeafOpener(LeafOpener opener);
