#pragma once

// The short description of a source that heads the information texts of a tree.

#include "devices/Driver.h"

#include <ostream>

// "ID: ...", "Description: ..." and the source's sector count with its size.
void printDriverDescription(std::ostream& out, const Driver& driver);
