#pragma once

// Operating-system services called by these names rather than GLib directly.
// Every path is UTF-8; the file-system calls take it through
// g_filename_from_utf8, never through the locale.

#include "core/Types.h"

#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

typedef struct _GPatternSpec GPatternSpec;
typedef struct _GChecksum GChecksum;

// Opens a file or address with the desktop's viewer. The path travels as one
// argument (or a file URI); no shell command is ever built from it. Nothing is
// reported to the caller: failures go to the debug log. `parameters` has no
// meaning for the desktop's opener and is not used.
void systemOpen(const char* utf8PathOrUrl, const char* parameters = nullptr);
// systemOpen(path); always true.
bool systemOpenFile(const char* path, const char* displayText);

// What systemOpen hands to the desktop: an http(s) address as it stands, or a
// file: URI of the absolute path with `localPath` its file-system form.
struct OpenTarget {
    std::string uri;
    std::string localPath; // empty for an address
};
// False when the path is not valid UTF-8 or cannot be made a URI.
bool makeOpenTarget(const char* utf8PathOrUrl, OpenTarget& out);
// The argument vector of the fallback opener: the program and one argument.
std::vector<std::string> fallbackOpenArgv(const OpenTarget& target);
// Hands a target to the desktop; false with `error` set when nothing could open
// it. The default asks GIO for the default handler, then spawns xdg-open.
using SystemOpenLauncher = std::function<bool(const OpenTarget& target, std::string& error)>;
// Replaces the launcher (an empty one restores the default) and returns the
// previous one; tests use it so that no viewer ever starts.
SystemOpenLauncher setSystemOpenLauncher(SystemOpenLauncher launcher);

bool readFile(const char* path, std::string& out);
// The whole of `data` as the file `path`, replacing what was there only once
// it is written; false with errno telling why when it cannot be.
bool writeFile(const char* path, const void* data, std::size_t size);
std::string buildFileName(const char* a, const char* b);
std::string pathDirName(const char* path);
std::string pathBaseName(const char* path);
std::string tempDirectory();
bool fileExists(const char* path);
bool fileMissing(const char* path);
int fileAccess(const char* path, int mode);
int fileStat(const char* path, struct stat* out);
int setFileTimes(const char* path, long accessTime, long modificationTime);
int removeFile(const char* path);
int makeDirectory(const char* path, int mode);
int makeDirectoryWithParents(const char* path, int mode);
int openFile(const char* path, int flags, int mode);

// pread and pwrite may move less than asked: a signal comes in, the kernel
// stops a little below 2 GiB, a device moves up to a failing sector. A transfer
// calls again until all n bytes are moved, a call moves nothing (the file or
// device ends there) or a call fails.
struct Transfer {
    std::size_t done = 0; // the bytes moved
    int error = 0;        // the errno of the call that failed, else 0
    bool ended = false;   // a call moved nothing
    bool whole() const { return error == 0 && !ended; }
};
// What one call is asked for at most: every count stays well inside ssize_t.
constexpr std::size_t MAX_TRANSFER_PIECE = std::size_t(1) << 30;
// One call: up to `count` bytes, `done` bytes into the caller's buffer, at file
// position `position`; the count moved, or -1 with errno set.
using TransferCall = std::function<ssize_t(std::size_t done, std::size_t count, u64 position)>;
// Whether a call that failed with `error` is made again (after EINTR it always
// is); the caller may first change what made it fail.
using TransferRetry = std::function<bool(int error)>;
// A position past 2^63 - 1 fails with EINVAL before it is asked for.
Transfer transferWhole(u64 offset, std::size_t n, const TransferCall& call,
                       const TransferRetry& retry = TransferRetry());
// pread of n bytes at `offset` into `buffer`.
Transfer readWhole(int fd, u64 offset, u8* buffer, std::size_t n);

// A case-insensitive "*" and "?" mask. A mask that is not valid UTF-8 matches
// nothing, and no name that is not valid UTF-8 is matched.
class FileMask {
public:
    explicit FileMask(const char* mask);
    ~FileMask();
    FileMask(const FileMask&) = delete;
    FileMask& operator=(const FileMask&) = delete;
    bool match(const char* name) const;

private:
    GPatternSpec* pattern_;
};

bool matchSimple(const char* pattern, const char* name);
bool hasWildcards(const char* text);

class Md5 {
public:
    Md5() = default;
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    bool init(int type);
    void update(const void* bytes, std::size_t length);
    std::string hexDigest();
    void reset();

private:
    GChecksum* checksum_ = nullptr;
    // GLib refuses data once the digest was read; we drop it quietly instead.
    bool finished_ = false;
};

// The system's text for the error `code` ("No space left on device"), in the
// language of the locale set now, UTF-8.
std::string errorText(int code);
// The same for the last failure (errno here); errno stays.
std::string lastErrorText();
// The last line of a message about a write or a folder that failed with
// `code`: the system's text, and where the disk is full that said first.
std::string writeFailureText(int code);
