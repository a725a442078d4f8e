#pragma once

// The sink into which a tree map streams the files it recovers. The recover walk
// announces every selected folder; a map's recoverNode calls beginFile, write
// and writeZeros (zero or more times, in file order) and endFile for each file.
// When one of the first three throws, endFile is not called: an implementation
// closes what is still open at the next beginFile and when it is destroyed.

#include "core/Types.h"
#include "tree/FileEntry.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tree {

class Recoverer {
public:
    // A failure of one file or folder that the user may step over. The text is
    // translated and formatted already, names the path and ends with the
    // reason; `reason` is that reason alone (the system's text for the error),
    // empty where the failure has none of its own.
    class Exception : public std::runtime_error {
    public:
        explicit Exception(const std::string& message, std::string reason = std::string())
            : std::runtime_error(message), reason_(std::move(reason)) {}
        const std::string& reason() const { return reason_; }

    private:
        std::string reason_;
    };
    // A write past the largest file the destination holds (a FAT32 volume's
    // 4 GiB, the process's file-size limit): only that file cannot be
    // written, while the files after it may well fit, so nobody is asked.
    class FileTooLarge : public Exception {
    public:
        using Exception::Exception;
    };

    Recoverer() = default;
    Recoverer(const Recoverer&) = delete;
    Recoverer& operator=(const Recoverer&) = delete;
    virtual ~Recoverer();

    // A selected folder `name` met inside the folder reached by `path`.
    virtual void beginDirectory(const std::string& name, const std::vector<std::string>& path);
    // `path`: the folder names from below the root down to the file's folder.
    virtual void beginFile(const FileEntry& entry, const std::vector<std::string>& path) = 0;
    virtual void write(const void* data, u32 size) = 0;
    // The next `size` bytes are zeros that the source does not store (a sparse
    // stretch): a sink that can leave a hole does. This body writes them.
    virtual void writeZeros(u64 size);
    // Implementations call this body last.
    virtual void endFile() = 0;

    // Relative paths of every volume closed so far, in closing order.
    const std::vector<std::string>& getFiles() const { return files_; }
    // Extra volumes of the file begun last; 0 when it was not split.
    u32 getVolumeCount() const { return volumeCount_; }
    // What of the file begun last reached the destination: whether it was made
    // there at all, and how many of its bytes (holes included) it holds, which
    // is less than its size when a write failed or a cancel came in between.
    bool isFileMade() const { return fileMade_; }
    u64 getFileBytes() const { return fileBytes_; }
    // Where the file begun last went, as the user reads it (UTF-8): its folder
    // below the destination, '/' between names and "" for the destination
    // itself, and the names of its volumes in that folder, in file order (one
    // for a file not split). Empty until it was made.
    const std::string& getFileFolder() const { return fileFolder_; }
    const std::vector<std::string>& getFileVolumes() const { return fileVolumes_; }
    // The first volume's name; "" until the file was made.
    std::string getFileName() const;

    // Takes away what was made of the file begun last, every volume of it, and
    // its entries in the written-files list: a file that did not reach the
    // destination whole is not left there under its name. False when some of
    // it could not be removed; the file then stays counted as made. This body
    // removes nothing.
    virtual bool discardFile();
    // Whether this sink made the folder `folder` (named as getFileFolder names
    // it) rather than found it there. This body says yes to every folder.
    virtual bool madeFolder(const std::string& folder) const;
    // The folder that the file begun last was to go to, named as
    // getFileFolder names it, when that folder stands on the destination,
    // the file made or not; false when none was reached (the destination or a
    // folder of the path could not be made). This body knows only a file made.
    virtual bool attemptFolder(std::string& folder) const;
    // Takes away `folder` (named as above, never "") when this sink made it
    // and it holds nothing. True when `folder` is not on the destination
    // afterwards. This body removes nothing and says that the folder stands.
    virtual bool removeFolder(const std::string& folder);

    // Forgets the file begun last. Implementations call it first in beginFile,
    // before anything can fail, and the recover walk before each file (a map
    // may give a file up before it begins it): a file never reports the
    // counts of the one before.
    void clearFileCounts();

protected:
    std::vector<std::string> files_;
    u32 volumeCount_ = 0;
    bool fileMade_ = false;
    u64 fileBytes_ = 0;
    std::string fileFolder_;
    std::vector<std::string> fileVolumes_;
};

// Folder names joined with '/', no separator at either end; [] gives "".
std::string joinPath(const std::vector<std::string>& path);
// The text with a '/' appended unless it is empty or ends with one already.
std::string withTrailingSeparator(const std::string& text);

} // namespace tree
