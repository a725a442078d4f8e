#include "app/Startup.h"

#include "core/AppDirectory.h"
#include "core/Log.h"
#include "tests/support/TestUtil.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testutil::TempDir;

namespace {

// An argument vector over strings the test owns.
class Args {
public:
    Args(std::initializer_list<std::string> args) : strings_(args) {
        for (std::string& s : strings_)
            pointers_.push_back(&s[0]);
        pointers_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> strings_;
    std::vector<char*> pointers_;
};

// Starts the core in a temporary folder that holds a fake executable and its
// configuration file; keeps the library directory of the process as it was.
class StartupTest : public ::testing::Test {
protected:
    void SetUp() override { savedAppDirectory_ = appDirectory(); }
    void TearDown() override { setAppDirectory(savedAppDirectory_); }

    // Writes `cfgText` (when given) as dir/cfgName and starts as dir/exeName.
    bool start(const std::string& exeName, const std::string& cfgName = "",
               const std::string& cfgText = "") {
        if (!cfgName.empty())
            testutil::writeAll(dir.file(cfgName), cfgText);
        return init(config, dir.file(exeName));
    }
    static bool init(PropertyMap& target, const std::string& argv0) {
        Args args{argv0, "--some-gtk-option"};
        return programInitCore(target, args.argc(), args.argv());
    }
    bool logged(const std::string& line) const {
        return logMemoryText().find(line) != std::string::npos;
    }

    TempDir dir;
    PropertyMap config;

private:
    std::string savedAppDirectory_;
};

// The log's set-up is process-wide and fixed once made: each case runs in a
// child process and reports the kind it ended with through its exit code.
int kindCode(const char* kind) {
    const char* kinds[] = {"null", "stderr", "ostringstream", "ofstream"};
    for (int i = 0; i < 4; ++i) {
        if (std::strcmp(kind, kinds[i]) == 0)
            return 10 + i;
    }
    return 1;
}

[[noreturn]] void startLogAndExit(Args args) {
    startDebugLog(args.argc(), args.argv());
    std::exit(kindCode(logStreamKind()));
}

} // namespace

// (Which dbg= argument wins: StartDebugLogDeathTest.)
TEST(DebugLogTarget, OnlyDbgArgumentsAfterTheProgramsPathCount) {
    Args none{"dbg=stderr", "x", "dbgx=1"};
    EXPECT_EQ(debugLogTarget(none.argc(), none.argv()), nullptr);
}

TEST(StartDebugLogDeathTest, ChoosesTheTargetAndWritesTheFirstLine) {
    EXPECT_EXIT(startLogAndExit({"prog", "dbg=a.log", "dbg=null"}),
                testing::ExitedWithCode(kindCode("null")), "^$");
    // An empty file name cannot be opened: standard error takes the log.
    EXPECT_EXIT(startLogAndExit({"prog", "dbg="}), testing::ExitedWithCode(kindCode("stderr")),
                "main\\(20\\): Halbrook \\(revision .+\\)");
    EXPECT_EXIT(startLogAndExit({"prog"}), testing::ExitedWithCode(kindCode("ostringstream")),
                "^$");

    TempDir dir;
    std::string file = dir.file("debug.log");
    EXPECT_EXIT(startLogAndExit({"prog", "dbg=" + file}),
                testing::ExitedWithCode(kindCode("ofstream")), "");
    std::string text = testutil::readAll(file);
    EXPECT_EQ(text.rfind("main(20): Halbrook (revision ", 0), 0u) << text;
}

// The configuration file beside the executable, whose path it cannot override.
TEST_F(StartupTest, LoadsTheConfigFileBesideTheExecutable) {
    // A name without a dot reads "prog.cfg".
    ASSERT_TRUE(start("prog", "prog.cfg",
                      "# settings\nProgram Name: P\nUpdate URL: http://u\n"
                      "Program Path: /elsewhere\nWeb Site: never read\n"));
    EXPECT_EQ(config.getString("Program Path", ""), dir.path());
    EXPECT_EQ(config.getString("Program Name", ""), "P");
    EXPECT_EQ(config.getString("Update URL", ""), "http://u");
    EXPECT_FALSE(config.has("Web Site"));
    EXPECT_EQ(appDirectory(), dir.path() + "/lib");
    EXPECT_TRUE(logged("program_init(32): " + dir.file("prog.cfg") + "\n"));
}

TEST_F(StartupTest, MissingConfigIsLoggedNotFatal) {
    ASSERT_TRUE(start("prog.x.y"));
    EXPECT_EQ(config.map().size(), 1u);
    // The name is cut at its last dot only.
    EXPECT_TRUE(logged("program_init(32): " + dir.file("prog.x.cfg") + "\n"));
}

TEST_F(StartupTest, NoArgumentsFail) {
    EXPECT_FALSE(programInitCore(config, 0, nullptr));
    EXPECT_TRUE(logged("program_init(15)\n"));
    EXPECT_FALSE(config.has("Program Path"));
}

TEST_F(StartupTest, RelativeOrBareProgramNamesBecomeAbsolute) {
    testutil::writeAll(dir.file("prog.cfg"), "Program Name: relative\n");
    char cwdBuffer[4096];
    ASSERT_NE(getcwd(cwdBuffer, sizeof cwdBuffer), nullptr);
    std::string cwd = cwdBuffer;
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    PropertyMap relative;
    bool ok = init(relative, "./prog");
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    ASSERT_TRUE(ok);
    EXPECT_EQ(relative.getString("Program Path", ""), dir.path());
    EXPECT_EQ(relative.getString("Program Name", ""), "relative");

    // Started through PATH, argv[0] is the bare name: found where the shell found it.
    testutil::writeAll(dir.file("hbprog"), "#!/bin/sh\n");
    ASSERT_EQ(chmod(dir.file("hbprog").c_str(), 0755), 0);
    std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir.path() + ":" + oldPath).c_str(), 1);
    PropertyMap bare;
    ok = init(bare, "hbprog");
    setenv("PATH", oldPath.c_str(), 1);
    ASSERT_TRUE(ok);
    EXPECT_EQ(bare.getString("Program Path", ""), dir.path());
    EXPECT_EQ(appDirectory(), dir.path() + "/lib");
}
