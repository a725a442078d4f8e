#pragma once

// Whole-tree helpers for engine tests: every entry by path, and everything
// recovered into a folder.

#include "tree/Map.h"
#include "tree/Node.h"

#include <map>
#include <string>

namespace testutil {

// Every entry of the tree by its '/'-joined path below the root; each folder is
// entered once, TO entries are not entered.
std::map<std::string, tree::Node> listTree(tree::Map& map);

// Selects the whole tree and recovers it below dest; returns the number of files
// recovered with errors.
u32 recoverAll(tree::Map& map, const std::string& dest);

} // namespace testutil
