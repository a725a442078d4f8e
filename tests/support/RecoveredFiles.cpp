#include "tests/support/RecoveredFiles.h"

#include "core/Progress.h"
#include "core/System.h"

#include <algorithm>
#include <cerrno>

namespace testutil {

// Files are kept (holes as zeros) up to this size; beyond it only counted.
constexpr u64 KEPT_BYTES = 64ull << 20;

void RecordingRecoverer::beginDirectory(const std::string& name,
                                        const std::vector<std::string>& path) {
    events.push_back("dir [" + tree::joinPath(path) + "] " + name);
    if (failing.count(name))
        throw Exception("Cannot make directory\n(" + name + ")");
}

void RecordingRecoverer::beginFile(const tree::FileEntry& entry,
                                   const std::vector<std::string>& path) {
    clearFileCounts();
    events.push_back("file [" + tree::joinPath(path) + "] " + entry.getName());
    lastFolder_ = tree::joinPath(path);
    begun_ = true;
    if (failing.count(entry.getName()))
        throw Exception("Cannot open file\n(" + entry.getName() + ")");
    if (entry.getName() == cancelling)
        throw InterruptedException();
    files.push_back(File{entry, path, std::string(), 0, 0, 0, false});
    fileMade_ = true;
    fileFolder_ = tree::joinPath(path);
    fileVolumes_ = {entry.getName()};
}

void RecordingRecoverer::write(const void* data, u32 size) {
    File& f = files.back();
    const u64 fileLeft = fileRoom - std::min(fileRoom, f.size);
    const u32 kept = static_cast<u32>(std::min<u64>({size, room, fileLeft}));
    room -= kept;
    if (f.bytes.size() + kept <= KEPT_BYTES)
        f.bytes.append(static_cast<const char*>(data), kept);
    f.size += kept;
    fileBytes_ += kept;
    ++f.writes;
    if (kept == size)
        return;
    // The writer's messages: what failed, where and why.
    const int error = kept == fileLeft ? EFBIG : ENOSPC;
    const std::string message =
        "Cannot write to file\n(" + f.entry.getName() + ")\n" + writeFailureText(error);
    if (error == EFBIG)
        throw FileTooLarge(message, errorText(error));
    throw Exception(message, errorText(error));
}

void RecordingRecoverer::writeZeros(u64 size) {
    File& f = files.back();
    f.size += size;
    f.holes += size;
    fileBytes_ += size;
    if (f.bytes.size() + size <= KEPT_BYTES)
        f.bytes.append(size, '\0');
}

bool RecordingRecoverer::discardFile() {
    if (!fileMade_)
        return true;
    if (keeping)
        return false;
    room += files.back().size - files.back().holes;
    files.pop_back();
    events.push_back("discarded");
    clearFileCounts();
    return true;
}

bool RecordingRecoverer::attemptFolder(std::string& folder) const {
    if (!begun_)
        return false;
    folder = lastFolder_;
    return true;
}

bool RecordingRecoverer::removeFolder(const std::string& folder) {
    if (keepingFolders)
        return false;
    removedFolders.push_back(folder);
    return true;
}

void RecordingRecoverer::endFile() {
    files.back().ended = true;
    Recoverer::endFile();
}

} // namespace testutil
