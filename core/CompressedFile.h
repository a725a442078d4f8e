#pragma once

// The container of saved scans and saved debug logs: the length twice, the zlib
// stream at level 9, and a reversible byte chain over the whole file.

#include "core/Types.h"

#include <string>

bool saveCompressedFile(const char* path, const u8* data, u64 n);
bool loadCompressedFile(const char* path, std::string& out);

void xorChainForward(u8* bytes, std::size_t length);
void xorChainBackward(u8* bytes, std::size_t length);
