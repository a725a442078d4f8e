#pragma once

// HTML and XML documents: the text from the first tag up to the closing tag of
// the root element ("</html>" for HTML), compared in any case, with up to two
// line-end or blank bytes after it. A byte that is no text byte before the
// closing tag means the document was not found whole. In a scan, the module
// keeps the closing tags its searches read past (ClosingTags).

#include "cbr/FileModule.h"

namespace cbr {

class FileModuleText : public FileModule {
public:
    bool check(const u8* sector, u32 size) override;
    bool analyze(dt::Reader& file, FileInfo& info) override;
    std::unique_ptr<ScanMemory> newScanMemory() const override;
    bool analyzeInScan(dt::Reader& file, FileInfo& info, u64 at, ScanMemory* memory) override;
};

} // namespace cbr
