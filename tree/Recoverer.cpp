#include "tree/Recoverer.h"

#include <algorithm>

namespace tree {

Recoverer::~Recoverer() = default;

void Recoverer::beginDirectory(const std::string& name, const std::vector<std::string>& path) {
    (void)name;
    (void)path;
}

void Recoverer::writeZeros(u64 size) {
    static const u8 zeros[64 * 1024] = {};
    for (u64 left = size; left > 0;) {
        const u32 n = static_cast<u32>(std::min<u64>(left, sizeof zeros));
        write(zeros, n);
        left -= n;
    }
}

void Recoverer::endFile() {}

bool Recoverer::discardFile() {
    return !fileMade_;
}

bool Recoverer::madeFolder(const std::string& folder) const {
    (void)folder;
    return true;
}

bool Recoverer::attemptFolder(std::string& folder) const {
    if (!fileMade_)
        return false;
    folder = fileFolder_;
    return true;
}

bool Recoverer::removeFolder(const std::string& folder) {
    (void)folder;
    return false;
}

std::string Recoverer::getFileName() const {
    return fileVolumes_.empty() ? std::string() : fileVolumes_.front();
}

void Recoverer::clearFileCounts() {
    volumeCount_ = 0;
    fileMade_ = false;
    fileBytes_ = 0;
    fileFolder_.clear();
    fileVolumes_.clear();
}

std::string joinPath(const std::vector<std::string>& path) {
    std::string joined;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (i > 0)
            joined += '/';
        joined += path[i];
    }
    return joined;
}

std::string withTrailingSeparator(const std::string& text) {
    if (text.empty() || text.back() == '/')
        return text;
    return text + '/';
}

} // namespace tree
