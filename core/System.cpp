#include "core/System.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gio/gio.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <limits>
#include <memory>
#include <unistd.h>
#include <utime.h>

namespace {

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
using GString_ = std::unique_ptr<gchar, GFreeDeleter>;

struct GErrorDeleter {
    void operator()(GError* e) const { g_error_free(e); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorDeleter>;

std::string takeString(gchar* p) {
    GString_ owned(p);
    return owned ? std::string(owned.get()) : std::string();
}

// The file-system form of a UTF-8 path. File names on Linux are bytes; GLib's
// filename encoding (UTF-8 unless G_FILENAME_ENCODING says otherwise) is what we
// hand to the kernel, never the locale's.
class FsName {
public:
    explicit FsName(const char* utf8)
        : name_(utf8 ? g_filename_from_utf8(utf8, -1, nullptr, nullptr, nullptr) : nullptr) {}
    bool ok() const { return name_ != nullptr; }
    const char* get() const { return name_.get(); }

private:
    GString_ name_;
};

// Runs `call` on the file-system form of `path`; a path that cannot be converted
// fails like a bad path does, with errno set.
template <typename Call> int withFsName(const char* path, Call call) {
    FsName name(path);
    if (!name.ok()) {
        errno = path ? EILSEQ : EINVAL;
        return -1;
    }
    return call(name.get());
}

bool isValidUtf8(const char* text) {
    return text && g_utf8_validate(text, -1, nullptr);
}

bool isWebAddress(const char* s) {
    return g_ascii_strncasecmp(s, "http://", 7) == 0 || g_ascii_strncasecmp(s, "https://", 8) == 0;
}

bool launchWithDesktop(const OpenTarget& target, std::string& error) {
    GError* raw = nullptr;
    if (g_app_info_launch_default_for_uri(target.uri.c_str(), nullptr, &raw))
        return true;
    GErrorPtr gioError(raw);
    raw = nullptr;

    // No desktop session answered (or it knows no handler): xdg-open picks the
    // viewer from the MIME database. Its argument goes as one argv entry.
    std::vector<std::string> args = fallbackOpenArgv(target);
    std::vector<gchar*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    if (g_spawn_async(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                      &raw))
        return true;
    GErrorPtr spawnError(raw);
    error = std::string(gioError ? gioError->message : "") + "; " +
            (spawnError ? spawnError->message : "");
    return false;
}

SystemOpenLauncher& launcher() {
    static SystemOpenLauncher current = launchWithDesktop;
    return current;
}

} // namespace

bool makeOpenTarget(const char* utf8PathOrUrl, OpenTarget& out) {
    if (!isValidUtf8(utf8PathOrUrl) || *utf8PathOrUrl == '\0')
        return false;
    if (isWebAddress(utf8PathOrUrl)) {
        out.uri = utf8PathOrUrl;
        out.localPath.clear();
        return true;
    }
    FsName name(utf8PathOrUrl);
    if (!name.ok())
        return false;
    // A file URI needs an absolute path; a relative one is taken from the
    // current directory, as the shell would.
    GString_ absolute(g_canonicalize_filename(name.get(), nullptr));
    GString_ uri(g_filename_to_uri(absolute.get(), nullptr, nullptr));
    if (!uri)
        return false;
    out.uri = uri.get();
    out.localPath = absolute.get();
    return true;
}

std::vector<std::string> fallbackOpenArgv(const OpenTarget& target) {
    // A local path is absolute, so it can never be taken for an option.
    return {"xdg-open", target.localPath.empty() ? target.uri : target.localPath};
}

SystemOpenLauncher setSystemOpenLauncher(SystemOpenLauncher replacement) {
    SystemOpenLauncher previous = launcher();
    launcher() = replacement ? std::move(replacement) : SystemOpenLauncher(launchWithDesktop);
    return previous;
}

void systemOpen(const char* utf8PathOrUrl, const char* parameters) {
    (void)parameters;
    OpenTarget target;
    if (!makeOpenTarget(utf8PathOrUrl, target)) {
        logAt("SystemOpen", 14) << ": " << (utf8PathOrUrl ? utf8PathOrUrl : "") << '\n';
        return;
    }
    std::string error;
    if (!launcher()(target, error))
        logAt("SystemOpen", 21) << ": " << utf8PathOrUrl << ' ' << error << '\n';
}

bool systemOpenFile(const char* path, const char* displayText) {
    (void)displayText;
    systemOpen(path, nullptr);
    return true;
}

bool readFile(const char* path, std::string& out) {
    FsName name(path);
    if (!name.ok())
        return false;
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(name.get(), &contents, &length, nullptr))
        return false;
    GString_ owned(contents);
    out.assign(contents, length);
    return true;
}

bool writeFile(const char* path, const void* data, std::size_t size) {
    FsName name(path);
    if (!name.ok() || (data == nullptr && size != 0)) {
        errno = name.ok() || !path ? EINVAL : EILSEQ;
        return false;
    }
    // The content goes into a new file beside the old one, which it replaces
    // only once it is whole: a full disk leaves the old file as it was and no
    // cut one. Every step keeps its errno, so that the message says why.
    std::string temporary = std::string(name.get()) + ".XXXXXX";
    const int fd = g_mkstemp_full(&temporary[0], O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const u8* bytes = static_cast<const u8*>(data);
    const Transfer written = transferWhole(0, size, [&](std::size_t done, std::size_t n, u64 at) {
        return ::pwrite(fd, bytes + done, n, static_cast<off_t>(at));
    });
    int error = written.error != 0 ? written.error : written.ended ? EIO : 0;
    // A file that replaces one is on the disk before it takes its place, so
    // that a crash leaves one of the two whole (as GLib's own writer does).
    struct stat old;
    if (error == 0 && ::stat(name.get(), &old) == 0 && old.st_size > 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), name.get()) != 0)
        error = errno;
    if (error == 0)
        return true;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
}

std::string buildFileName(const char* a, const char* b) {
    return takeString(g_build_filename(a ? a : "", b ? b : "", nullptr));
}

std::string pathDirName(const char* path) {
    return takeString(g_path_get_dirname(path ? path : ""));
}

std::string pathBaseName(const char* path) {
    return takeString(g_path_get_basename(path ? path : ""));
}

std::string tempDirectory() {
    const gchar* dir = g_get_tmp_dir();
    gchar* utf8 = g_filename_to_utf8(dir, -1, nullptr, nullptr, nullptr);
    return utf8 ? takeString(utf8) : takeString(g_filename_display_name(dir));
}

bool fileExists(const char* path) {
    return fileAccess(path, F_OK) == 0;
}

bool fileMissing(const char* path) {
    return !fileExists(path);
}

int fileAccess(const char* path, int mode) {
    return withFsName(path, [mode](const char* n) { return g_access(n, mode); });
}

int fileStat(const char* path, struct stat* out) {
    return withFsName(path, [out](const char* n) { return g_stat(n, out); });
}

int setFileTimes(const char* path, long accessTime, long modificationTime) {
    return withFsName(path, [=](const char* n) {
        struct utimbuf times;
        times.actime = static_cast<time_t>(accessTime);
        times.modtime = static_cast<time_t>(modificationTime);
        return g_utime(n, &times);
    });
}

int removeFile(const char* path) {
    return withFsName(path, [](const char* n) { return g_unlink(n); });
}

int makeDirectory(const char* path, int mode) {
    return withFsName(path, [mode](const char* n) { return g_mkdir(n, mode); });
}

int makeDirectoryWithParents(const char* path, int mode) {
    return withFsName(path, [mode](const char* n) { return g_mkdir_with_parents(n, mode); });
}

int openFile(const char* path, int flags, int mode) {
    // Close-on-exec: the viewer we spawn must not inherit recovered files or devices.
    return withFsName(path, [=](const char* n) { return g_open(n, flags | O_CLOEXEC, mode); });
}

Transfer transferWhole(u64 offset, std::size_t n, const TransferCall& call,
                       const TransferRetry& retry) {
    constexpr u64 LAST_POSITION = static_cast<u64>(std::numeric_limits<off_t>::max());
    Transfer t;
    while (t.done < n) {
        if (offset > LAST_POSITION - t.done) {
            t.error = EINVAL;
            break;
        }
        const std::size_t count = std::min(n - t.done, MAX_TRANSFER_PIECE);
        const ssize_t moved = call(t.done, count, offset + t.done);
        if (moved < 0) {
            // Taken at once: whatever the retry does may set errno anew.
            const int error = errno;
            if (error == EINTR || (retry && retry(error)))
                continue;
            t.error = error;
            break;
        }
        if (moved == 0) {
            t.ended = true;
            break;
        }
        t.done += static_cast<std::size_t>(moved);
    }
    return t;
}

Transfer readWhole(int fd, u64 offset, u8* buffer, std::size_t n) {
    return transferWhole(offset, n, [=](std::size_t done, std::size_t count, u64 position) {
        return ::pread(fd, buffer + done, count, static_cast<off_t>(position));
    });
}

FileMask::FileMask(const char* mask) : pattern_(nullptr) {
    if (!isValidUtf8(mask))
        return;
    GString_ lower(g_utf8_strdown(mask, -1));
    pattern_ = g_pattern_spec_new(lower.get());
}

FileMask::~FileMask() {
    if (pattern_)
        g_pattern_spec_free(pattern_);
}

bool FileMask::match(const char* name) const {
    if (!pattern_ || !isValidUtf8(name))
        return false;
    GString_ lower(g_utf8_strdown(name, -1));
    return g_pattern_spec_match_string(pattern_, lower.get());
}

bool matchSimple(const char* pattern, const char* name) {
    if (!isValidUtf8(pattern) || !isValidUtf8(name))
        return false;
    return g_pattern_match_simple(pattern, name);
}

bool hasWildcards(const char* text) {
    if (!text)
        return false;
    // Only the valid part counts: the scan ends at the first broken sequence.
    const gchar* end = nullptr;
    g_utf8_validate(text, -1, &end);
    for (const char* p = text; p < end; ++p) {
        if (*p == '*' || *p == '?')
            return true;
    }
    return false;
}

Md5::~Md5() {
    reset();
}

bool Md5::init(int type) {
    if (type != 0)
        return false;
    reset();
    checksum_ = g_checksum_new(G_CHECKSUM_MD5);
    return checksum_ != nullptr;
}

void Md5::update(const void* bytes, std::size_t length) {
    if (!checksum_ || finished_ || !bytes)
        return;
    const auto* p = static_cast<const guchar*>(bytes);
    // gssize is signed: feed very large buffers in pieces.
    constexpr std::size_t PIECE = std::size_t(1) << 30;
    while (length > 0) {
        std::size_t n = length < PIECE ? length : PIECE;
        g_checksum_update(checksum_, p, static_cast<gssize>(n));
        p += n;
        length -= n;
    }
}

std::string Md5::hexDigest() {
    if (!checksum_)
        return std::string();
    finished_ = true;
    return g_checksum_get_string(checksum_);
}

void Md5::reset() {
    if (checksum_)
        g_checksum_free(checksum_);
    checksum_ = nullptr;
    finished_ = false;
}

std::string errorText(int code) {
    // g_strerror keeps the text of the language it was first asked in; the
    // program's language may change since.
    char buffer[256];
    const char* text = strerror_r(code, buffer, sizeof buffer);
    if (gchar* utf8 = g_locale_to_utf8(text, -1, nullptr, nullptr, nullptr))
        return takeString(utf8);
    return g_strerror(code);
}

std::string lastErrorText() {
    const int code = errno;
    std::string text = errorText(code);
    errno = code;
    return text;
}

std::string writeFailureText(int code) {
    const std::string reason = errorText(code);
    if (code == ENOSPC)
        return formatMessage(_("The disk is full: %1"), reason);
    return reason;
}
