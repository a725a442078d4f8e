#include "core/TemporaryFolder.h"

#include "core/Log.h"
#include "core/System.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char PREFIX[] = "halbrook-";
constexpr std::size_t RANDOM_PART = 6;
constexpr char LOCK_NAME[] = ".lock";
// A folder that changed this recently is left alone: a run that has just made
// its folder takes the lock a moment later.
constexpr std::time_t SETTLE_SECONDS = 60;
// nftw's open descriptors while it walks.
constexpr int WALK_DESCRIPTORS = 16;

bool isRunFolderName(const char* name) {
    const std::size_t prefix = sizeof PREFIX - 1;
    if (std::strncmp(name, PREFIX, prefix) != 0 || std::strlen(name) != prefix + RANDOM_PART)
        return false;
    for (const char* c = name + prefix; *c; ++c)
        if (!g_ascii_isalnum(*c))
            return false;
    return true;
}

// The lock of a folder's lock file, taken; -1 when the file cannot be opened
// or someone holds the lock (errno tells which).
int takeLock(const std::string& folder, int flags) {
    const std::string file = folder + '/' + LOCK_NAME;
    const int fd = ::open(file.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | flags, 0600);
    if (fd < 0)
        return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
    // What cannot be removed stays; the caller sees the folder still there.
    ::remove(path);
    return 0;
}

// This run's folders, one in each temporary directory it was asked for (the
// system's, or one the user chose). They go when the process ends normally; a
// child forked off this process that ends so leaves them to its parent.
class RunFolder {
public:
    RunFolder() = default;
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    ~RunFolder() { remove(); }

    std::string get(const std::string& parent) {
        if (owner_ != getpid()) {
            // A forked child's copy of the parent's folders is not its own.
            folders_.clear();
            owner_ = getpid();
        }
        for (const Made& made : folders_)
            if (made.parent == parent)
                return made.path;
        std::string pattern = buildFileName(parent.c_str(), "halbrook-XXXXXX");
        // What failed is told by errno, which the log and the removal of the
        // unlocked folder must not change.
        if (g_mkdtemp_full(&pattern[0], 0700) == nullptr) {
            const int error = errno;
            logAt("TemporaryFolder", 1) << ": " << pattern << ' ' << errorText(error) << '\n';
            errno = error;
            return std::string();
        }
        const int fd = takeLock(pattern, O_CREAT | O_EXCL);
        if (fd < 0) {
            const int error = errno;
            logAt("TemporaryFolder", 2) << ": " << pattern << ' ' << errorText(error) << '\n';
            removeFolderTree(pattern);
            errno = error;
            return std::string();
        }
        folders_.push_back({parent, pattern, fd});
        return pattern;
    }

    void remove() {
        if (owner_ != getpid())
            return;
        for (const Made& made : folders_) {
            if (!removeFolderTree(made.path))
                logAt("TemporaryFolder", 3) << ": " << made.path << '\n';
            ::close(made.lockFd);
        }
        folders_.clear();
    }

private:
    struct Made {
        std::string parent;
        std::string path;
        int lockFd;
    };
    std::vector<Made> folders_;
    pid_t owner_ = 0;
};

RunFolder& runFolder() {
    static RunFolder folder;
    return folder;
}

} // namespace

std::string runTemporaryFolder(const std::string& parent) {
    return runFolder().get(parent);
}

void removeRunTemporaryFolder() {
    runFolder().remove();
}

unsigned sweepTemporaryFolders(const std::string& parent) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(parent.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (isRunFolderName(entry->d_name))
                names.push_back(entry->d_name);
        closedir(dir);
    }
    unsigned removed = 0;
    const std::time_t now = std::time(nullptr);
    for (const std::string& name : names) {
        const std::string folder = buildFileName(parent.c_str(), name.c_str());
        struct stat st;
        if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
            now - st.st_mtime < SETTLE_SECONDS)
            continue;
        const int lock = takeLock(folder, 0);
        if (lock < 0 && errno != ENOENT)
            continue; // its run is alive
        if (removeFolderTree(folder)) {
            logAt("TemporaryFolder", 4) << ": " << folder << '\n';
            ++removed;
        }
        if (lock >= 0)
            ::close(lock);
    }
    return removed;
}

bool removeFolderTree(const std::string& path) {
    nftw(path.c_str(), removeEntry, WALK_DESCRIPTORS, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
    struct stat st;
    return lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}
