#include "tree/RecovererCopyOff.h"

#include "core/DateTime.h"
#include "core/FileNames.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/System.h"
#include "core/Text.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tree {

namespace {

// 1 exists as a folder, 0 free, -1 taken by something else (a link included:
// we never look through one).
int entryKind(int dir, const std::string& name) {
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : -1;
    return S_ISDIR(st.st_mode) ? 1 : -1;
}

template <typename Call> auto retryInterrupted(Call call) {
    for (;;) {
        auto result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// What the file system of the folder `fd` allows, or `fallback` when it sets
// no limit.
std::size_t limitOf(int fd, int name, long fallback) {
    const long value = fpathconf(fd, name);
    return static_cast<std::size_t>(value > 0 ? value : fallback);
}

// A limit less the room kept for what may be added later; a destination too
// tight for that room still gets a name of one byte.
std::size_t withRoom(std::size_t limit, std::size_t room) {
    return limit > room ? limit - room : 1;
}

// Whether a create or mkdir that failed with `error` failed on the name: the
// destination takes no such characters, no such device name, or no name this
// long (a file system that tells a longer limit than it keeps).
bool isRefusedName(int error) {
    return error == EINVAL || error == EILSEQ || error == ENAMETOOLONG || error == EPERM;
}

// A relative folder as folder_ holds it ("" or ending with '/') named as
// getFileFolder names it.
std::string folderName(const std::string& relative) {
    return relative.empty() ? relative : relative.substr(0, relative.size() - 1);
}

// O_NOFOLLOW: a link in the folder's place is refused, not entered.
int openFolderAt(int dir, const std::string& name) {
    return retryInterrupted(
        [&] { return openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
}

} // namespace

RecovererCopyOff::Descriptor& RecovererCopyOff::Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int RecovererCopyOff::Descriptor::release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
}

void RecovererCopyOff::Descriptor::reset() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

RecovererCopyOff::RecovererCopyOff(const std::string& destination, const std::string& display,
                                   u64 volumeLimit)
    : destination_(withTrailingSeparator(destination)), display_(withTrailingSeparator(display)),
      volumeLimit_(volumeLimit) {}

void RecovererCopyOff::setLimits(const Limits& limits) {
    limits_ = limits;
}

void RecovererCopyOff::setNameRule(NameRule rule) {
    nameRule_ = std::move(rule);
}

RecovererCopyOff::~RecovererCopyOff() {
    // A volume left open by a failure keeps the time of its writing.
    closeFile();
}

void RecovererCopyOff::beginDirectory(const std::string& name,
                                      const std::vector<std::string>& path) {
    (void)name;
    (void)path;
}

void RecovererCopyOff::beginFile(const FileEntry& entry, const std::vector<std::string>& path) {
    clearFileCounts();
    setText(InterfaceCallback::TEXT_MAIN, withTrailingSeparator(joinPath(path)) + entry.name);
    poll();
    currentPath_ = makeOutputPath(path, entry.name);
    entry_ = entry;
    volumeBase_ = 0;
    // Further volumes follow the name the destination took.
    currentPath_ = folder_ + openFile(currentPath_.substr(folder_.size()));
    fileMade_ = true;
    fileFolder_ = folderName(folder_);
}

// The sanitiser turns '/' and '\' into '_' and never leaves a name "." or "..",
// so no element can climb out of the destination.
std::string RecovererCopyOff::cleanName(const std::string& name, std::size_t reserve) const {
    std::string clean = toFileNameCharset(name);
    sanitizeFileName(clean);
    truncateHead(clean, withRoom(limits_.nameBytes, reserve), withRoom(NAME_UNITS, reserve));
    return clean;
}

std::string RecovererCopyOff::safeName(const std::string& name, std::size_t reserve) const {
    std::string safe = asciiFileName(name);
    truncateHead(safe, withRoom(limits_.nameBytes, reserve), withRoom(NAME_UNITS, reserve));
    return safe;
}

std::string RecovererCopyOff::makeOutputPath(const std::vector<std::string>& path,
                                             const std::string& name) {
    // The destination's limits govern every name.
    destinationFolder();
    std::string relative;
    cleanPath_.resize(std::min(cleanPath_.size(), path.size()));
    for (std::size_t i = 0; i < path.size(); ++i) {
        const std::size_t reserve = i + 1 == path.size() ? FOLDER_RESERVE : 0;
        if (i == cleanPath_.size())
            cleanPath_.push_back(CleanName{path[i], reserve, cleanName(path[i], reserve)});
        else if (cleanPath_[i].name != path[i] || cleanPath_[i].reserve != reserve)
            cleanPath_[i] = CleanName{path[i], reserve, cleanName(path[i], reserve)};
        relative += cleanPath_[i].clean;
        relative += '/';
    }
    relative += cleanName(name, FILE_RESERVE);
    // We reach every element through its folder's descriptor, but whoever opens
    // the file later gives its whole path, destination included; a destination
    // that leaves no room for one is the user's choice and is not cut.
    const std::size_t longest = withRoom(limits_.pathBytes, 1);
    if (destination_.size() + PATH_RESERVE < longest)
        truncateHeadToBytes(relative, longest - PATH_RESERVE - destination_.size());

    std::vector<std::string> elements;
    split(relative, elements, '/');
    // A cut that lands on the start of a folder name of the longest length
    // leaves "~" in front of all of it, one byte or unit over what the file
    // system takes.
    truncateHead(elements.front(), limits_.nameBytes, NAME_UNITS);
    std::string leaf = elements.back();
    elements.pop_back();
    openFolder(path, elements);
    return folder_ + leaf;
}

int RecovererCopyOff::destinationFolder() {
    if (destinationFd_.isOpen())
        return destinationFd_.get();
    // The destination itself is the user's choice and may well be a link.
    const char* where = destination_.empty() ? "." : destination_.c_str();
    if (!destination_.empty() && makeDirectoryWithParents(where, 0755) != 0)
        fail(143, _("Cannot make directory\n(%1)"), std::string());
    destinationFd_ = Descriptor(::openFile(where, O_RDONLY | O_DIRECTORY, 0));
    if (!destinationFd_.isOpen())
        fail(144, _("Cannot make directory\n(%1)"), std::string());
    if (limits_.nameBytes == 0)
        limits_.nameBytes = limitOf(destinationFd_.get(), _PC_NAME_MAX, NAME_MAX);
    if (limits_.pathBytes == 0)
        limits_.pathBytes = limitOf(destinationFd_.get(), _PC_PATH_MAX, PATH_MAX);
    return destinationFd_.get();
}

int RecovererCopyOff::folderFd() const {
    return wanted_.empty() ? destinationFd_.get() : folderFd_.get();
}

RecovererCopyOff::NameTable& RecovererCopyOff::namesOf(const std::string& folder, int dir) {
    const auto known = names_.find(folder);
    if (known != names_.end())
        return known->second;
    NameTable& names = names_[folder];
    // A folder this run did not make may hold anything already; its own
    // descriptor keeps its place for the calls made through `dir`.
    const int fd = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    DIR* listing = fd >= 0 ? fdopendir(fd) : nullptr;
    if (listing == nullptr) {
        logAt("RecovererCopyOff", 211)
            << ": " << destination_ << folder << ' ' << lastErrorText() << '\n';
        if (fd >= 0)
            ::close(fd);
        // Unlisted, the exclusive create still keeps what is there.
        return names;
    }
    rewinddir(listing);
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace(caseFoldedName(name), Holder{Holder::FOUND, name});
    }
    closedir(listing);
    return names;
}

void RecovererCopyOff::openFolder(const std::vector<std::string>& tree,
                                  const std::vector<std::string>& wanted) {
    if (folderReady_ && wanted == wanted_ && tree == wantedTree_)
        return;
    if (wanted.size() > tree.size())
        throw std::runtime_error("RecovererCopyOff(212)");
    // A path cut from its head keeps its last folders: wanted[i] stands for
    // tree[skipped + i].
    const std::size_t skipped = tree.size() - wanted.size();
    const bool inside = folderReady_ && wanted_.size() < wanted.size() &&
                        wantedTree_.size() - wanted_.size() == skipped &&
                        std::equal(wanted_.begin(), wanted_.end(), wanted.begin()) &&
                        std::equal(wantedTree_.begin(), wantedTree_.end(), tree.begin());
    std::size_t from = inside ? wanted_.size() : 0;
    std::string folder = inside ? folder_ : std::string();
    int dir = inside ? folderFd() : destinationFolder();
    std::string owner;
    for (std::size_t i = 0; i < skipped + from; ++i)
        owner += tree[i] + '\0';
    // Until the new folder is open, a failure leaves no folder to go on from.
    folderReady_ = false;
    Descriptor current;
    // The folders made here on the way to one that cannot be made hold
    // nothing and no file of this run: they go again, deepest first, so that
    // a failed file leaves nothing behind and its level's header stays true.
    std::vector<std::string> made;
    try {
        for (; from < wanted.size(); ++from) {
            owner += tree[skipped + from] + '\0';
            std::string element = wanted[from];
            const std::size_t before = madeFolders_.size();
            Descriptor next = enterFolder(dir, folder, element, owner);
            folder += element + '/';
            if (madeFolders_.size() != before)
                made.push_back(folderName(folder));
            current = std::move(next);
            dir = current.get();
        }
    } catch (...) {
        current.reset();
        while (!made.empty() && removeFolder(made.back()))
            made.pop_back();
        throw;
    }
    if (!wanted.empty())
        folderFd_ = std::move(current);
    wanted_ = wanted;
    wantedTree_ = tree;
    folder_ = folder;
    folderReady_ = true;
}

RecovererCopyOff::Descriptor RecovererCopyOff::enterFolder(int dir, const std::string& folder,
                                                           std::string& element,
                                                           const std::string& owner) {
    NameTable& names = namesOf(folder, dir);
    // 1 where the name is the owner's folder or was found there as it is, 0
    // where it is free, -1 where a file, another tree folder or an entry of
    // another case holds it.
    auto holding = [&](const std::string& name) {
        const auto held = names.find(caseFoldedName(name));
        if (held == names.end())
            return 0;
        if (held->second.kind == Holder::FOLDER)
            return held->second.what == owner ? 1 : -1;
        return held->second.kind == Holder::FOUND && held->second.what == name ? 1 : -1;
    };
    Descriptor next;
    int error = 0;
    // A name that something else holds fails as one taken on the destination.
    auto enter = [&] {
        error = EEXIST;
        if (holding(element) >= 0) {
            next = openOrMakeFolder(dir, folder, element);
            error = errno;
        }
    };
    enter();
    if (!next.isOpen() && isRefusedName(error)) {
        // The destination takes no such name: once more as a safe one.
        const std::string safe = safeName(element, FOLDER_RESERVE);
        if (safe != element) {
            element = safe;
            enter();
        }
    }
    if (!next.isOpen()) {
        // ENOTDIR or ELOOP: a file or a link holds the name; EEXIST: something
        // else holds it as the strictest destination compares names. The first
        // variant that is free or this folder's takes its place.
        if (error != ENOTDIR && error != ELOOP && error != EEXIST) {
            errno = error;
            fail(145, _("Cannot make directory\n(%1)"), folder + element);
        }
        const std::string wanted = element;
        auto usable = [&](const std::string& candidate) {
            const int held = holding(candidate);
            const int kind = entryKind(dir, candidate);
            return held > 0 ? kind == 1 : held == 0 && kind >= 0;
        };
        if (!makeUniqueFileName(std::string(), element, usable, UNIQUE_TRIES))
            failTaken(135, folder + wanted);
        if (!makeFolderAt(dir, folder, element))
            fail(146, _("Cannot make directory\n(%1)"), folder + element);
        next = Descriptor(openFolderAt(dir, element));
        if (!next.isOpen())
            fail(147, _("Cannot make directory\n(%1)"), folder + element);
    }
    names[caseFoldedName(element)] = Holder{Holder::FOLDER, owner};
    return next;
}

bool RecovererCopyOff::refusedByRule(const std::string& name) const {
    const int error = nameRule_ ? nameRule_(name) : 0;
    if (error == 0)
        return false;
    errno = error;
    return true;
}

RecovererCopyOff::Descriptor RecovererCopyOff::openOrMakeFolder(int dir, const std::string& folder,
                                                                const std::string& element) {
    // Mostly the folder is there already, or can be made at once.
    Descriptor next(openFolderAt(dir, element));
    if (next.isOpen() || errno != ENOENT || !makeFolderAt(dir, folder, element))
        return next;
    return Descriptor(openFolderAt(dir, element));
}

bool RecovererCopyOff::makeFolderAt(int dir, const std::string& folder,
                                    const std::string& element) {
    if (!refusedByRule(element) && mkdirat(dir, element.c_str(), 0755) == 0) {
        madeFolders_.insert(folder + element);
        // Nothing is in it but what this run puts there.
        names_[folder + element + '/'].clear();
        return true;
    }
    return errno == EEXIST;
}

bool RecovererCopyOff::madeFolder(const std::string& folder) const {
    return madeFolders_.count(folder) != 0;
}

std::string RecovererCopyOff::openFile(const std::string& wanted) {
    // A volume left open by a failure is closed first, and a cancel comes before
    // anything is made.
    closeFile();
    poll();
    // O_EXCL: a name taken (or a planted link, dangling or not) makes the create
    // fail rather than overwrite or follow anything, and the next variant is
    // tried; any other failure ends the search. No execute bits; the umask has
    // its say.
    NameTable& names = namesOf(folder_, folderFd());
    Descriptor file;
    int error = 0;
    auto created = [&](const std::string& candidate) {
        if (names.count(caseFoldedName(candidate)) != 0) {
            error = EEXIST;
            return false;
        }
        if (refusedByRule(candidate)) {
            error = errno;
            return true;
        }
        file = Descriptor(retryInterrupted([&] {
            return openat(folderFd(), candidate.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        }));
        error = file.isOpen() ? 0 : errno;
        return error != EEXIST;
    };
    std::string base = wanted;
    std::string name = base;
    bool found = makeUniqueFileName(std::string(), name, created, UNIQUE_TRIES);
    if (found && isRefusedName(error)) {
        // The destination takes no such name: once more as a safe one.
        const std::string safe = safeName(wanted, FILE_RESERVE);
        if (safe != wanted) {
            base = safe;
            name = base;
            found = makeUniqueFileName(std::string(), name, created, UNIQUE_TRIES);
        }
    }
    if (!found)
        failTaken(153, folder_ + base);
    if (!file.isOpen()) {
        errno = error;
        fail(161, _("Cannot open file\n(%1)"), folder_ + name);
    }
    names[caseFoldedName(name)] = Holder{Holder::FILE, std::string()};
    setText(InterfaceCallback::TEXT_SECOND, display_ + folder_ + name);
    file_ = std::move(file);
    fileVolumes_.push_back(name);
    openPath_ = folder_ + name;
    bytesInVolume_ = 0;
    endsInHole_ = false;
    return base;
}

template <typename Put> void RecovererCopyOff::fill(u64 size, Put put) {
    for (u64 done = 0;;) {
        u64 chunk = size - done;
        if (volumeLimit_ != 0 && chunk > volumeLimit_ - std::min(bytesInVolume_, volumeLimit_))
            chunk = volumeLimit_ - std::min(bytesInVolume_, volumeLimit_);
        put(done, chunk);
        done += chunk;
        if (done == size)
            return;
        // Only further bytes open a new volume: a file that ends exactly at the
        // limit has no empty last one.
        finishFile();
        volumeBase_ += bytesInVolume_;
        ++volumeCount_;
        openFile(currentPath_.substr(folder_.size()) + ".v" + std::to_string(volumeCount_));
    }
}

void RecovererCopyOff::write(const void* data, u32 size) {
    const u8* bytes = static_cast<const u8*>(data);
    fill(size, [&](u64 offset, u64 n) { writeData(bytes + offset, n); });
}

void RecovererCopyOff::writeZeros(u64 size) {
    fill(size, [&](u64, u64 n) { skipZeros(n); });
}

void RecovererCopyOff::writeData(const u8* data, u64 size) {
    u64 done = 0;
    while (done < size) {
        // Short writes (a signal, a pipe-like target) are carried on, not failed.
        ssize_t n =
            retryInterrupted([&] { return ::write(file_.get(), data + done, size - done); });
        if (n <= 0) {
            // A write that makes no progress would loop for ever.
            if (n == 0)
                errno = EIO;
            failWrite(172);
        }
        done += static_cast<u64>(n);
        // What stays on the destination when a later piece fails.
        fileBytes_ = volumeBase_ + bytesInVolume_ + done;
    }
    if (size != 0)
        endsInHole_ = false;
    advance(size);
}

void RecovererCopyOff::skipZeros(u64 size) {
    if (size == 0)
        return;
    // A file grows only as far as it is written: the offset moves past the hole
    // and finishFile sets the length.
    if (lseek(file_.get(), static_cast<off_t>(size), SEEK_CUR) < 0) {
        // Forward from a valid offset, only an end past the largest file the
        // destination holds is refused.
        if (errno == EINVAL)
            errno = EFBIG;
        failWrite(174);
    }
    endsInHole_ = true;
    advance(size);
}

void RecovererCopyOff::advance(u64 size) {
    bytesInVolume_ += size;
    setPosition(InterfaceCallback::POSITION_ADD, size);
    // Not once the file's last byte is written: a cancel there would leave it
    // whole but without its time, and unjudged, as the map's verdict on its
    // data comes only after endFile. The next file's start takes the cancel.
    if (volumeBase_ + bytesInVolume_ != entry_.size)
        poll();
}

void RecovererCopyOff::finishFile() {
    if (!file_.isOpen())
        return;
    if (endsInHole_) {
        if (ftruncate(file_.get(), static_cast<off_t>(bytesInVolume_)) != 0)
            failWrite(176);
        fileBytes_ = volumeBase_ + bytesInVolume_;
    }
    // A file without a time keeps the time of its writing rather than one in 2106.
    if (entry_.time != NO_TIME) {
        struct timespec times[2];
        times[0].tv_sec = static_cast<time_t>(entry_.time);
        times[0].tv_nsec = 0;
        times[1] = times[0];
        // Through the descriptor: the path could name something else by now.
        if (futimens(file_.get(), times) != 0)
            logAt("RecovererCopyOff", 187) << ": " << openPath_ << ' ' << lastErrorText() << '\n';
    }
    closeFile();
}

void RecovererCopyOff::closeFile() {
    if (!file_.isOpen())
        return;
    if (::close(file_.release()) != 0)
        logAt("RecovererCopyOff", 196) << ": " << openPath_ << ' ' << lastErrorText() << '\n';
    files_.push_back(openPath_);
    openPath_.clear();
}

void RecovererCopyOff::endFile() {
    finishFile();
    Recoverer::endFile();
}

bool RecovererCopyOff::discardFile() {
    if (!fileMade_)
        return true;
    closeFile();
    // The volumes that stay are what the file still is there.
    std::vector<std::string> left;
    const auto names = names_.find(folder_);
    for (const std::string& name : fileVolumes_) {
        const std::string relative = folder_ + name;
        if (unlinkat(folderFd(), name.c_str(), 0) != 0 && errno != ENOENT) {
            logAt("RecovererCopyOff", 198)
                << ": " << destination_ << relative << ' ' << lastErrorText() << '\n';
            left.push_back(name);
            continue;
        }
        if (names != names_.end())
            names->second.erase(caseFoldedName(name));
        const auto listed = std::find(files_.rbegin(), files_.rend(), relative);
        if (listed != files_.rend())
            files_.erase(std::next(listed).base());
    }
    fileVolumes_ = std::move(left);
    if (!fileVolumes_.empty())
        return false;
    clearFileCounts();
    // The folders made for it go too while they hold nothing else.
    std::string folder = folder_;
    while (!folder.empty()) {
        folder.pop_back();
        if (!removeFolder(folder))
            break;
        folder.erase(folder.rfind('/') + 1);
    }
    return true;
}

bool RecovererCopyOff::attemptFolder(std::string& folder) const {
    if (!folderReady_)
        return false;
    folder = folderName(folder_);
    return true;
}

bool RecovererCopyOff::removeFolder(const std::string& folder) {
    if (folder.empty() || !destinationFd_.isOpen())
        return false;
    if (madeFolders_.count(folder) != 0 &&
        unlinkat(destinationFd_.get(), folder.c_str(), AT_REMOVEDIR) == 0) {
        madeFolders_.erase(folder);
        // Its names go with it, and its own name is free again in its parent.
        names_.erase(folder + '/');
        const std::size_t leaf = folder.rfind('/') + 1;
        const auto parent = names_.find(folder.substr(0, leaf));
        if (parent != names_.end())
            parent->second.erase(caseFoldedName(folder.substr(leaf)));
        // A folder held open keeps its room taken until it is closed.
        folderReady_ = false;
        folderFd_.reset();
    }
    // Gone now, or taken away before.
    return entryKind(destinationFd_.get(), folder) == 0;
}

void RecovererCopyOff::fail(int event, const char* message, const std::string& relative) {
    const int code = errno;
    logAt("RecovererCopyOff", event)
        << ": " << destination_ << relative << ' ' << errorText(code) << '\n';
    throw Exception(formatMessage(message, printableName(display_ + relative)) + "\n" +
                        writeFailureText(code),
                    errorText(code));
}

void RecovererCopyOff::failTaken(int event, const std::string& relative) {
    logAt("RecovererCopyOff", event) << ": " << destination_ << relative << " taken\n";
    throw Exception(
        formatMessage(_("Cannot find unique path\n(%1)"), printableName(display_ + relative)));
}

void RecovererCopyOff::failWrite(int event) {
    const int code = errno;
    logAt("RecovererCopyOff", event) << ": " << openPath_ << ' ' << errorText(code) << '\n';
    const std::string message =
        formatMessage(_("Cannot write to file\n(%1)"), printableName(display_ + openPath_)) + "\n" +
        writeFailureText(code);
    if (code == EFBIG)
        throw FileTooLarge(message, errorText(code));
    throw Exception(message, errorText(code));
}

} // namespace tree
