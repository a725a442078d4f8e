#include "tests/support/FilesCameBack.h"

#include "tests/support/TestUtil.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace testutil {

namespace {

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

std::string fileDifference(const std::string& path, const std::string& expected,
                           std::time_t mtime) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return "not there";
    const std::string data = readAll(path);
    if (data != expected) {
        const std::size_t n = std::min(data.size(), expected.size());
        std::size_t at =
            std::mismatch(data.begin(), data.begin() + n, expected.begin()).first - data.begin();
        at -= at % 16;
        auto dump = [at](const std::string& s) {
            return at >= s.size()
                       ? std::string("(ends)\n")
                       : hexDump(s.data() + at, std::min<std::size_t>(32, s.size() - at));
        };
        return std::to_string(data.size()) + " bytes, expected " + std::to_string(expected.size()) +
               "; from byte " + std::to_string(at) + ":\n" + dump(data) + "expected:\n" +
               dump(expected);
    }
    if (mtime != ANY_TIME && st.st_mtime != mtime)
        return "time " + std::to_string(st.st_mtime) + ", not " + std::to_string(mtime);
    return std::string();
}

::testing::AssertionResult filesCameBack(const std::string& dest, const PlacedFiles& files) {
    std::string missing;
    for (const PlacedFile& f : files) {
        const std::string difference = fileDifference(dest + "/" + f.path, f.data, f.mtime);
        if (!difference.empty())
            missing += "\n  " + f.path + ": " + difference;
    }
    if (missing.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "below " << dest << ":" << missing;
}

std::vector<std::string> listFolder(const std::string& root) {
    std::vector<std::string> out;
    listInto(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

::testing::AssertionResult cameBack(const std::string& folder, const PlacedFiles& files) {
    std::vector<std::string> wanted;
    for (const PlacedFile& f : files) {
        for (std::size_t slash = f.path.find('/'); slash != std::string::npos;
             slash = f.path.find('/', slash + 1))
            wanted.push_back(f.path.substr(0, slash + 1));
        wanted.push_back(f.path);
    }
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    const std::vector<std::string> found = listFolder(folder);
    if (found == wanted)
        return filesCameBack(folder, files);
    auto failure = ::testing::AssertionFailure() << "the folder holds:";
    for (const std::string& p : found)
        failure << "\n  " << p;
    failure << "\nexpected:";
    for (const std::string& p : wanted)
        failure << "\n  " << p;
    return failure;
}

} // namespace testutil
