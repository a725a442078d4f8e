#pragma once

// Writes recovered files below a destination folder, re-creating the folders of
// the rebuilt tree. Names from damaged directories are made safe and short, a
// name already taken gets a free "-1" ... "-999" variant (nothing on the
// destination is ever overwritten), every file gets the time of its tree entry,
// and a file that grows past the volume limit continues in ".v1", ".v2", ...
//
// Nothing below the destination folder is followed through a symbolic link: a
// link planted there, to a folder or to a file, is treated as a name that is
// taken. Every failure to make, open or write something becomes a
// Recoverer::Exception with a translated message naming the path.

#include "core/Progress.h"
#include "tree/Recoverer.h"

#include <string>
#include <vector>

namespace tree {

class RecovererCopyOff : public Recoverer, public UsesInterfaceCallback {
public:
    // Longest name of one path element, and of a whole relative path plus the
    // destination folder, in the form the Windows-era layouts we stay within use.
    static constexpr std::size_t NAME_LIMIT = 255;
    static constexpr std::size_t PATH_LIMIT = 247;
    static constexpr unsigned UNIQUE_TRIES = 999;

    // `destination` receives the files; `display` is the same folder as the user
    // sees it in progress texts and messages. volumeLimit 0 never splits.
    RecovererCopyOff(const std::string& destination, const std::string& display, u64 volumeLimit);
    ~RecovererCopyOff() override;

    // Folders are made only when a file goes into them.
    void beginDirectory(const std::string& name, const std::vector<std::string>& path) override;
    void beginFile(const FileEntry& entry, const std::vector<std::string>& path) override;
    void write(const void* data, u32 size) override;
    void endFile() override;

    // The relative path of a file `name` in the tree folder `path`, its folders
    // made below the destination (renamed where a non-folder holds a name).
    // Leaves that folder open for the file.
    std::string makeOutputPath(const std::vector<std::string>& path, const std::string& name);

private:
    // Sole owner of one open descriptor.
    class Descriptor {
    public:
        Descriptor() = default;
        explicit Descriptor(int fd) : fd_(fd) {}
        ~Descriptor() { reset(); }
        Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
        Descriptor& operator=(Descriptor&& other) noexcept;
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;

        int get() const { return fd_; }
        bool isOpen() const { return fd_ >= 0; }
        int release();
        void reset();

    private:
        int fd_ = -1;
    };

    Descriptor openDestination();
    // Goes down into `element` of the folder `dir` (relative path `folder`),
    // making it when missing; renames `element` when a non-folder holds it.
    Descriptor enterFolder(const Descriptor& dir, const std::string& folder, std::string& element);
    // Creates the free variant of `name` in the current folder as the open volume.
    void openFile(const std::string& name);
    void writeData(const u8* data, u64 size);
    void finishFile();
    void closeFile();
    // Logs the destination form of `relative` with the error text and throws the
    // (translated) message filled with its display form.
    [[noreturn]] void fail(int line, const char* message, const std::string& relative);

    std::string destination_;
    std::string display_;
    u64 volumeLimit_;
    // Output path of the current file as makeOutputPath made it; its volumes
    // are named after it.
    std::string currentPath_;
    FileEntry entry_;
    // The current file's folder, relative ("" for the destination itself, else
    // ending with '/'), and that folder held open.
    std::string folder_;
    Descriptor folderFd_;
    Descriptor file_;
    std::string openPath_;
    u64 bytesInVolume_ = 0;
};

} // namespace tree
