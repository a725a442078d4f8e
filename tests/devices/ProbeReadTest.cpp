// `hbprobe read` end to end: real images split into RAID sets by a script, the
// error boxes of the descriptor chain, and descriptors that must not crash it.

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testutil::probePath;
using testutil::run;
using testutil::shellQuote;
using testutil::TempDir;
using testutil::writeAll;

std::string probeRead(const std::string& descriptor, const std::string& tail, int* status,
                      std::string* out = nullptr) {
    std::string err;
    *status =
        run(shellQuote(probePath()) + " read " + shellQuote(descriptor) + " " + tail, out, &err);
    return err;
}

TEST(ProbeReadTest, RaidSetsOfARealImageReadBackWhole) {
    TempDir dir;
    std::string out;
    std::string err;
    const std::string script = std::string(HB_SOURCE_DIR) + "/tests/data/make-raid.sh";
    const int status = run("sh " + shellQuote(script) + " " + shellQuote(probePath()) + " " +
                               shellQuote(dir.path()),
                           &out, &err);
    EXPECT_EQ(status, 0) << out << err;
    for (const char* check : {"ok raid5\n", "ok raid0\n", "ok jbod-range\n", "ok nested\n",
                              "ok nested-second\n", "ok files\n", "ok pieces\n"})
        EXPECT_NE(out.find(check), std::string::npos) << check << out << err;
}

TEST(ProbeReadTest, ReadsTheAskedBytes) {
    TempDir dir;
    writeAll(dir.file("a.img"), "0123456789abcdef");
    int status = 0;
    std::string out;
    std::string err = probeRead("id=" + dir.file("a.img") + "|type=file", "3 7", &status, &out);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out, "3456789");

    writeAll(dir.file("known"), "id=r|type=range|components=" + dir.file("a.img") +
                                    "|rangeOffset=10|rangeSize=6\r\n\nid=x|type=file\n");
    err = probeRead("id=j|type=jbod|components=r,r",
                    "--known " + shellQuote(dir.file("known")) + " 4 6", &status, &out);
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(out, "efabcd");

    // Past the end: a failure with the chain's log lines.
    err = probeRead("id=j|type=jbod|components=r",
                    "--known " + shellQuote(dir.file("known")) + " 0 7", &status, &out);
    EXPECT_EQ(status, 1);
    EXPECT_NE(err.find("ReaderJBOD(23)"), std::string::npos) << err;
}

TEST(ProbeReadTest, FailuresShowTheTextOfTheBox) {
    int status = 0;
    EXPECT_EQ(probeRead("id=x|type=directory", "0 1", &status),
              "Cannot initialize x\n(invalid type)\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(probeRead("id=j|type=jbod|components=,a", "0 1", &status),
              "Cannot initialize \n(empty component)\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(probeRead("id=/nonexistent/x.img|type=file", "0 1", &status),
              "Cannot initialize /nonexistent/x.img\n(invalid file: /nonexistent/x.img)\n");
    EXPECT_EQ(status, 1);
    probeRead("id=x|type=file", "-1 1", &status);
    EXPECT_EQ(status, 2);
}

// However nested, negative or malformed, a descriptor ends in bytes or in a
// message, never in a crash.
TEST(ProbeReadTest, MalformedDescriptorsDoNotCrash) {
    TempDir dir;
    const std::string img = dir.file("a.img");
    writeAll(img, std::string(70000, 'q'));
    writeAll(dir.file("known"),
             "id=self|type=raid5|components=self,self|blockSize=1\n"
             "id=neg|type=range|components=" +
                 img +
                 "|rangeOffset=-100|rangeSize=-1\n"
                 "id=big|type=range|components=" +
                 img +
                 "|rangeOffset=9223372036854775807|rangeSize=9223372036854775807\n"
                 "id=z|type=raid0|components=" +
                 img +
                 "|blockSize=0\n"
                 "id=n|type=raid5|components=" +
                 img + "," + img +
                 "|blockSize=-9223372036854775808\n"
                 "|||==|id=|type=|\n");
    const std::vector<std::string> descriptors = {
        "",
        "|",
        "=",
        "id",
        "id=",
        "type",
        "type=range",
        "type=range|components=",
        "id=s|type=jbod|components=self",
        "id=t|type=range|components=neg",
        "id=t|type=range|components=big",
        "id=t|type=jbod|components=z,z",
        "id=t|type=jbod|components=n",
        "id=t|type=raid0|components=,",
        "id=t|type=raid5|components=" + img + "," + img + "|blockSize=1",
        "id=t|type=raid0|components=" + img + "|blockSize=18446744073709551616",
        "id=t|type=range|components=" + img + "|rangeOffset=- 1|rangeSize=+70000",
        "id=t|type=jbod|components=|||",
        "id=t|type=file|id=" + img,
        "type=jbod|components=" + img + "|id=late",
    };
    for (const std::string& d : descriptors) {
        for (const char* span : {"0 1", "0 0", "69999 1", "65536 10"}) {
            int status = 0;
            std::string err =
                probeRead(d, "--known " + shellQuote(dir.file("known")) + " " + span, &status);
            EXPECT_TRUE(status == 0 || status == 1) << d << " " << span << ": " << status << err;
        }
    }
}

} // namespace
