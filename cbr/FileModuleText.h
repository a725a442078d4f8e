#pragma once

// HTML and XML documents: the text from the first tag up to the closing tag of
// the root element ("</html>" for HTML), compared in any case, with up to two
// line-end or blank bytes after it. A byte that is no text byte before the
// closing tag means the document was not found whole.

#include "cbr/FileModule.h"

#include <string>

namespace cbr {

class ByteSource;

class FileModuleText : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
};

// Tab, line feed, carriage return, 0x20 to 0x7E and 0x80 to 0xFF.
bool isTextByte(u8 byte);

// Up to `size` bytes at offset (cut at the window's end) into buffer; count is
// the number of text bytes they start with. False when offset lies at or past
// the window's end, the read fails, or the block starts with a non-text byte.
bool readTextBlock(ByteSource& src, u64 offset, u8* buffer, u32 size, u32& count);

// The first tag of the text, "<!" constructs skipped: its name (letters, digits,
// ':', '-', '+', possibly empty) and the index of the blank or '>' that ends it.
// False when a name meets any other byte, or no tag ends within length.
bool findRootElement(const u8* text, u32 length, std::string& name, u32& position);

} // namespace cbr
