#include "tests/support/RecoveredFiles.h"

#include "core/Progress.h"
#include "tests/support/TestUtil.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace testutil {

namespace {

// Files are kept (holes as zeros) up to this size; beyond it only counted.
constexpr u64 KEPT_BYTES = 64ull << 20;

void listInto(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    DIR* dir = opendir((root + "/" + relative).c_str());
    if (!dir)
        return;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = relative.empty() ? name : relative + "/" + name;
        struct stat st = {};
        lstat((root + "/" + path).c_str(), &st);
        if (S_ISLNK(st.st_mode)) {
            out.push_back(path + "@");
        } else if (S_ISDIR(st.st_mode)) {
            out.push_back(path + "/");
            listInto(root, path, out);
        } else {
            out.push_back(path);
        }
    }
    closedir(dir);
}

} // namespace

void RecordingRecoverer::beginDirectory(const std::string& name,
                                        const std::vector<std::string>& path) {
    events.push_back("dir [" + tree::joinPath(path) + "] " + name);
    if (failing.count(name))
        throw Exception("Cannot make directory\n(" + name + ")");
}

void RecordingRecoverer::beginFile(const tree::FileEntry& entry,
                                   const std::vector<std::string>& path) {
    volumeCount_ = 0;
    events.push_back("file [" + tree::joinPath(path) + "] " + entry.getName());
    if (failing.count(entry.getName()))
        throw Exception("Cannot open file\n(" + entry.getName() + ")");
    if (entry.getName() == cancelling)
        throw InterruptedException();
    files.push_back(File{entry, path, std::string(), 0, 0, 0, false});
}

void RecordingRecoverer::write(const void* data, u32 size) {
    File& f = files.back();
    if (f.bytes.size() + size <= KEPT_BYTES)
        f.bytes.append(static_cast<const char*>(data), size);
    f.size += size;
    ++f.writes;
}

void RecordingRecoverer::writeZeros(u64 size) {
    File& f = files.back();
    f.size += size;
    f.holes += size;
    if (f.bytes.size() + size <= KEPT_BYTES)
        f.bytes.append(size, '\0');
}

void RecordingRecoverer::endFile() {
    files.back().ended = true;
    Recoverer::endFile();
}

std::vector<std::string> listFolder(const std::string& root) {
    std::vector<std::string> out;
    listInto(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

::testing::AssertionResult cameBack(const std::string& folder,
                                    const std::vector<ExpectedFile>& expected) {
    std::vector<std::string> wanted;
    for (const ExpectedFile& f : expected) {
        for (std::size_t slash = f.path.find('/'); slash != std::string::npos;
             slash = f.path.find('/', slash + 1))
            wanted.push_back(f.path.substr(0, slash + 1));
        wanted.push_back(f.path);
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    const std::vector<std::string> found = listFolder(folder);
    if (found != wanted) {
        auto failure = ::testing::AssertionFailure() << "the folder holds:";
        for (const std::string& p : found)
            failure << "\n  " << p;
        failure << "\nexpected:";
        for (const std::string& p : wanted)
            failure << "\n  " << p;
        return failure;
    }
    for (const ExpectedFile& f : expected) {
        const std::string path = folder + "/" + f.path;
        struct stat st = {};
        lstat(path.c_str(), &st);
        if (f.time != NO_TIME && st.st_mtime != static_cast<time_t>(f.time))
            return ::testing::AssertionFailure()
                   << f.path << ": time " << st.st_mtime << ", expected " << f.time;
        const std::string bytes = readAll(path);
        if (bytes != f.bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && at < f.bytes.size() && bytes[at] == f.bytes[at])
                ++at;
            const std::size_t from = at & ~std::size_t{15};
            auto dump = [&](const std::string& s) {
                return from >= s.size()
                           ? std::string("(ends)\n")
                           : hexDump(s.data() + from, std::min<std::size_t>(32, s.size() - from));
            };
            return ::testing::AssertionFailure()
                   << f.path << ": " << bytes.size() << " bytes, expected " << f.bytes.size()
                   << "; first difference at " << at << " (dump from " << from << ")\n"
                   << dump(bytes) << "expected\n"
                   << dump(f.bytes);
        }
    }
    return ::testing::AssertionSuccess();
}

} // namespace testutil
