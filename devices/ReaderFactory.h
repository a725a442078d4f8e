#pragma once

// The reader chain of a source, built from its descriptor string: pairs
// "key=value" joined by "|". "type" picks the reader; composed sources (range,
// jbod, raid0, raid5) name their members by id in "components", and each id is
// looked up among the descriptors the caller knows, else opened as an image
// file. Every failure is told to the user at once through the interface (an
// error box), and the call yields no reader. A null interface is the headless
// one, which goes through messageDialog.

#include "devices/DtReader.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class FrTreeInterface;

// The top level and nine levels of nested components are allowed.
constexpr int MAX_READER_DEPTH = 10;

// A new reader chain for `descriptor`, or null after an error was told.
// Top-level callers pass depth 0. Components that name the same id at the same
// level are built once and shared, so a descriptor cannot make the build
// explode by listing one member many times over several levels.
std::unique_ptr<dt::Reader> createReaderFromDescr(const std::vector<std::string>& known,
                                                  const char* descriptor, FrTreeInterface* ui,
                                                  int depth);
// The reader of one component id: the first known descriptor with that id, or
// else the image file of that name.
std::unique_ptr<dt::Reader> createComponentReader(const std::vector<std::string>& known,
                                                  const char* id, FrTreeInterface* ui, int depth);
// Builds every component of a ","-separated list, in order; false after the box
// of the first one that fails.
bool parseComponents(const std::vector<std::string>& known, const std::string& components,
                     dt::ReaderList& out, FrTreeInterface* ui, int depth);

// One leaf of a chain, opened read-only, or null after the "invalid file" error.
std::unique_ptr<dt::Reader> openDeviceReader(const char* path, const char* id, FrTreeInterface* ui);
std::unique_ptr<dt::Reader> openFileReader(const char* path, const char* id, FrTreeInterface* ui);

// "Cannot initialize <id>", and "(<reason>)" on a second line when a reason is
// given, as plain text in an error box of `ui`.
void reportReaderError(const char* id, const char* reason, FrTreeInterface* ui);
void reportWrongComponentCount(const char* id, FrTreeInterface* ui);

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
