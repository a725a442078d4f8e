#pragma once

// Writes recovered files below a destination folder, re-creating the folders of
// the rebuilt tree. Names from damaged directories are made safe and short, a
// name already taken gets a free "-1" ... "-999" variant (nothing on the
// destination is ever overwritten), every file gets the time of its tree entry,
// a file that grows past the volume limit continues in ".v1", ".v2", ..., and
// stretches of zeros that the source does not store stay holes.
//
// A name the destination refuses when a file or folder is made (its
// characters, a device name, its length: EINVAL, EILSEQ, EPERM, ENAMETOOLONG)
// is tried once more in a safe form: printable ASCII, sanitized, cut to the
// name limits.
//
// Nothing below the destination folder is followed through a symbolic link: a
// link planted there, to a folder or to a file, is treated as a name that is
// taken. Every failure to make, open or write something becomes a
// Recoverer::Exception with a translated message naming the path and ending
// with the system's reason; a write past the largest file the destination
// holds (EFBIG) a Recoverer::FileTooLarge, the volume staying as far as it got.
//
// Names are taken as the strictest destination compares them: without case,
// in the form written (cleaned and cut). A name that a file of this run, or
// anything found in the folder, holds in another case is taken; a folder made
// or entered for one tree folder is never entered for another, so two tree
// folders that clean to one name ("Data." and "Data_") stay apart.
//
// The folder of the last file stays open, and its names stay converted, so
// that the files of one folder cost only their own create, write, times and
// close.

#include "core/Progress.h"
#include "tree/Recoverer.h"

#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace tree {

class RecovererCopyOff : public Recoverer, public UsesInterfaceCallback {
public:
    // Names and paths are held to what the destination's file system allows
    // (its NAME_MAX and PATH_MAX as pathconf tells them, in bytes of the names
    // as written, and never more than NAME_UNITS a name), less the room that
    // later steps may add: "-999" of the free-name search on the last folder,
    // that and ".v999" of a further volume on the file, and both on the whole
    // path.
    //
    // FAT and exFAT keep a long name in at most 255 UTF-16 units, while Linux
    // tells a NAME_MAX of 1,530 bytes for them (six bytes a unit): the units
    // hold every name to what those file systems take, and cost nothing where
    // NAME_MAX is 255 bytes (no character takes fewer bytes than units).
    static constexpr std::size_t NAME_UNITS = 255;
    static constexpr std::size_t FOLDER_RESERVE = 4;
    static constexpr std::size_t FILE_RESERVE = 9;
    static constexpr std::size_t PATH_RESERVE = 13;
    static constexpr unsigned UNIQUE_TRIES = 999;

    // What a destination's file system takes: its longest name in bytes
    // (NAME_MAX) and its longest path with the NUL that ends it (PATH_MAX).
    struct Limits {
        std::size_t nameBytes = 0;
        std::size_t pathBytes = 0;
    };
    // A rule of a destination that no call tells (a driver that refuses some
    // characters or names): the error a create or mkdir of `name` fails with
    // there, 0 where the name is taken.
    using NameRule = std::function<int(const std::string& name)>;

    // `destination` receives the files; `display` is the same folder as the user
    // sees it in progress texts and messages. volumeLimit 0 never splits.
    RecovererCopyOff(const std::string& destination, const std::string& display, u64 volumeLimit);
    ~RecovererCopyOff() override;

    // Holds the names and paths to these limits rather than to those the
    // destination's file system tells (a limit of 0 is still asked of it), for
    // a file system that tells other limits than it keeps. Before the first file.
    void setLimits(const Limits& limits);
    // Holds every name made to `rule` too, before the destination's own calls.
    void setNameRule(NameRule rule);

    // Folders are made only when a file goes into them.
    void beginDirectory(const std::string& name, const std::vector<std::string>& path) override;
    void beginFile(const FileEntry& entry, const std::vector<std::string>& path) override;
    void write(const void* data, u32 size) override;
    // Seeks past the zeros; the length is set when the volume ends.
    void writeZeros(u64 size) override;
    void endFile() override;
    // Unlinks the file's volumes, and the folders made for it that hold
    // nothing else.
    bool discardFile() override;
    // The folders made by mkdir here, not those that were there already.
    bool madeFolder(const std::string& folder) const override;
    // The folder last opened for a file, when it is open still.
    bool attemptFolder(std::string& folder) const override;
    // Unlinks the folder while it is one this sink made and holds nothing.
    bool removeFolder(const std::string& folder) override;

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

    // A tree folder name as cleaned for one place of the path (the room kept
    // differs for the last folder).
    struct CleanName {
        std::string name;
        std::size_t reserve;
        std::string clean;
    };

    // The name in the destination's charset, made safe and cut to the name
    // limits less `reserve`.
    std::string cleanName(const std::string& name, std::size_t reserve) const;
    // The form of a clean name that a destination refused: printable ASCII,
    // cut to the same limits.
    std::string safeName(const std::string& name, std::size_t reserve) const;

    // The destination folder, made and opened the first time, when its limits
    // are read too.
    int destinationFolder();
    // What holds a name in a folder of the destination.
    struct Holder {
        enum Kind : u8 { FOUND, FILE, FOLDER } kind;
        // FOUND: the name as it was found there; FOLDER: the tree folder it was
        // made or entered for, its path's names each ended by a NUL.
        std::string what;
    };
    // The names of one destination folder, keyed by caseFoldedName.
    using NameTable = std::unordered_map<std::string, Holder>;

    // The names of the folder `folder` (relative path, as folder_), open as
    // `dir`: what it held when first used, listed then, and what this run
    // made in it.
    NameTable& namesOf(const std::string& folder, int dir);
    // Makes the folders `wanted` below the destination and holds the last open:
    // from the folder open now when the new one lies inside it, else from the
    // destination. `wanted` are the last of the tree folders `tree`, as cleaned
    // and cut. When one cannot be made, those made on the way to it go again.
    void openFolder(const std::vector<std::string>& tree, const std::vector<std::string>& wanted);
    // Goes down into `element` of the folder `dir` (relative path `folder`) for
    // the tree folder `owner` (a Holder's path), making it when missing;
    // renames `element` when something else holds it or the destination
    // refuses it.
    Descriptor enterFolder(int dir, const std::string& folder, std::string& element,
                           const std::string& owner);
    // Whether the name rule refuses `name`; errno set when it does.
    bool refusedByRule(const std::string& name) const;
    // Opens `element` of `dir`, made first when missing; closed, with errno
    // set, when that fails.
    Descriptor openOrMakeFolder(int dir, const std::string& folder, const std::string& element);
    // Makes `element` in `dir` (relative path `folder`); one already there is
    // not counted as made. False, with errno set, when it cannot be made.
    bool makeFolderAt(int dir, const std::string& folder, const std::string& element);
    int folderFd() const;
    // Creates the free variant of `name` in the current folder as the open
    // volume; the name its variants were sought for (`name`, or its safe form).
    std::string openFile(const std::string& name);
    // Splits `size` bytes over the volumes: put(offset, n) for each piece, the
    // next volume opened between pieces.
    template <typename Put> void fill(u64 size, Put put);
    void writeData(const u8* data, u64 size);
    void skipZeros(u64 size);
    // Counts `size` bytes of the open volume as done, reports them and polls,
    // unless they end the file.
    void advance(u64 size);
    void finishFile();
    void closeFile();
    // Logs the destination form of `relative` with the error text and throws the
    // (translated) message filled with its display form, and errno's reason.
    [[noreturn]] void fail(int event, const char* message, const std::string& relative);
    // The same for a name of which every free variant is taken.
    [[noreturn]] void failTaken(int event, const std::string& relative);
    // The same for a failure on the open volume: "Cannot write to file".
    [[noreturn]] void failWrite(int event);

    std::string destination_;
    std::string display_;
    u64 volumeLimit_;
    // The destination's limits; 0 until they are known.
    Limits limits_;
    NameRule nameRule_;
    // Output path of the current file as makeOutputPath made it; its volumes
    // are named after it.
    std::string currentPath_;
    FileEntry entry_;
    // The last file's tree folders as cleaned.
    std::vector<CleanName> cleanPath_;
    Descriptor destinationFd_;
    // The open folder: the names it was made for and the tree folders they
    // stand for, its relative path ("" for the destination itself, else ending
    // with '/'), and its descriptor (closed for the destination itself).
    // folderReady_ is false until one is open.
    std::vector<std::string> wanted_;
    std::vector<std::string> wantedTree_;
    std::string folder_;
    Descriptor folderFd_;
    bool folderReady_ = false;
    Descriptor file_;
    std::string openPath_;
    // The folders made below the destination, as getFileFolder names them.
    std::set<std::string> madeFolders_;
    // The names of each destination folder used, by relative path as folder_.
    std::unordered_map<std::string, NameTable> names_;
    u64 bytesInVolume_ = 0;
    // Bytes of the current file in the volumes before the open one.
    u64 volumeBase_ = 0;
    // The open volume ends in a hole: its length is set when it is finished.
    bool endsInHole_ = false;
};

} // namespace tree
