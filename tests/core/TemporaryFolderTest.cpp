#include "core/TemporaryFolder.h"

#include "tests/support/TestUtil.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using testutil::TempDir;

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void backdate(const std::string& path) {
    const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(lutimes(path.c_str(), old), 0) << path;
}

// What a run that is gone left, what a live run holds, and what is not ours.
TEST(TemporaryFolderTest, TheSweepTakesOnlyWhatAGoneRunLeft) {
    TempDir parent;
    TempDir elsewhere;
    const struct {
        const char* name;
        const char* kind; // "free" lock, "held" lock, "none", "link", "file", "linked lock"
        bool old;
        bool swept;
    } rows[] = {
        {"halbrook-Ab12cd", "free", true, true},
        {"halbrook-alive1", "held", true, false},
        {"halbrook-fresh1", "free", false, false},
        {"halbrook-nolock", "none", true, true},
        {"halbrook-linked", "link", true, false},
        {"halbrook-plain1", "file", true, false},
        {"halbrook-update-Ab12cd", "free", true, false},
        // A lock planted as a link to a file that is no lock of ours.
        {"halbrook-lnlock", "linked lock", true, false},
    };
    int held = -1;
    for (const auto& row : rows) {
        const std::string path = parent.file(row.name);
        const std::string kind = row.kind;
        if (kind == "link") {
            ASSERT_EQ(symlink(elsewhere.path().c_str(), path.c_str()), 0);
        } else if (kind == "file") {
            testutil::writeAll(path, "x");
        } else {
            ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
            testutil::writeAll(path + "/viewed.txt", "private");
            if (kind == "linked lock") {
                testutil::writeAll(elsewhere.file("free"), "");
                ASSERT_EQ(symlink(elsewhere.file("free").c_str(), (path + "/.lock").c_str()), 0);
            } else if (kind != "none") {
                testutil::writeAll(path + "/.lock", "");
            }
            if (kind == "held") {
                held = open((path + "/.lock").c_str(), O_RDWR | O_CLOEXEC);
                ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
            }
        }
        if (row.old)
            backdate(path);
    }
    EXPECT_EQ(sweepTemporaryFolders(parent.path()), 2u);
    for (const auto& row : rows)
        EXPECT_EQ(exists(parent.file(row.name)), !row.swept) << row.name;
    close(held);
}

// A child forked off a run that has its folder makes one of its own and, as
// it ends, removes that one only: the parent's folder and lock stay.
TEST(TemporaryFolderTest, AForkedChildLeavesItsParentsFolderAlone) {
    TempDir parent;
    const std::string own = runTemporaryFolder(parent.path());
    ASSERT_FALSE(own.empty());
    for (const bool makesOne : {false, true}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool ok = true;
            if (makesOne) {
                const std::string made = runTemporaryFolder(parent.path());
                ok = !made.empty() && made != own;
            }
            std::exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << makesOne;
        std::string left;
        testutil::run("ls -A " + testutil::shellQuote(parent.path()), &left);
        EXPECT_EQ(left, own.substr(own.rfind('/') + 1) + "\n") << makesOne;
    }
    backdate(own);
    EXPECT_EQ(sweepTemporaryFolders(parent.path()), 0u);
    removeRunTemporaryFolder();
}

// A folder made but not locked (a umask that leaves its owner no write
// permission: root becomes "nobody" first, since root writes into a folder
// whatever its mode) tells the reason of the lock, and leaves nothing behind.
TEST(TemporaryFolderTest, AFolderThatCannotBeLockedTellsWhy) {
    TempDir parent;
    ASSERT_EQ(chmod(parent.path().c_str(), 0777), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        umask(0277);
        const bool empty = runTemporaryFolder(parent.path()).empty();
        _exit(empty && errno == EACCES ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string left;
    testutil::run("ls -A " + testutil::shellQuote(parent.path()), &left);
    EXPECT_EQ(left, "");
}

// The run's folder is private, goes at a normal end (here a child's exit) with
// all it holds, and a killed run's folder is swept by the next.
TEST(TemporaryFolderTest, TheRunsFolderGoesAtExitAndAKilledRunsAtTheNextSweep) {
    TempDir parent;
    for (const bool killed : {false, true}) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string folder = runTemporaryFolder(parent.path());
            struct stat st;
            const bool ok = !folder.empty() && folder == runTemporaryFolder(parent.path()) &&
                            stat(folder.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700;
            testutil::writeAll(folder + "/viewed.txt", "private");
            if (killed)
                raise(SIGKILL);
            std::exit(ok ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        std::string left;
        testutil::run("ls -A " + testutil::shellQuote(parent.path()), &left);
        if (!killed) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(left, "");
            continue;
        }
        ASSERT_EQ(left.size(), 16u) << left; // "halbrook-XXXXXX\n"
        const std::string folder = parent.file(left.substr(0, 15));
        backdate(folder);
        EXPECT_EQ(sweepTemporaryFolders(parent.path()), 1u);
        EXPECT_FALSE(exists(folder));
    }
    // This run's own folder is alive, and removed on demand.
    const std::string own = runTemporaryFolder(parent.path());
    backdate(own);
    EXPECT_EQ(sweepTemporaryFolders(parent.path()), 0u);
    removeRunTemporaryFolder();
    EXPECT_FALSE(exists(own));
}

} // namespace
