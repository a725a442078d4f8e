#include "core/Config.h"

#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using testutil::LogCapture;
using Pairs = std::vector<std::pair<std::string, std::string>>;

// Keeps every pair in order, so that empty keys and values show.
struct Recorder : Callback {
    bool handle(const std::string& key, const std::string& value) override {
        pairs.emplace_back(key, value);
        return key != stopAt;
    }
    Pairs pairs;
    std::string stopAt = "\x01";
};

TEST(ConfigTest, LineSyntax) {
    // Only the first bytes given are the text: the parse must not look further.
    const std::string text = "# one\r\n\n   \t# two: x\n"
                             "Key:value\n"
                             "  Key 2 :  value  \r\n"
                             "Note: a: b # c\n"
                             ": \n"
                             "Tabs\t:\tin value\t\r"
                             "Last: no newline....";
    Recorder r;
    EXPECT_TRUE(parseConfigText(text.data(), text.data() + text.size() - 4, '#', r));
    EXPECT_EQ(r.pairs, (Pairs{{"Key", "value"},
                              {"Key 2", "value"},
                              {"Note", "a: b"},
                              {"", ""},
                              {"Tabs", "in value"},
                              {"Last", "no newline"}}));
}

TEST(ConfigTest, FailuresStopAtTheLineAndSayWhere) {
    const struct {
        const char* text;
        const char* stopAt;
        Pairs pairs;
        const char* log;
    } cases[] = {
        {"a: 1\n   no colon here\nb: 2\n",
         "",
         {{"a", "1"}},
         "Config(149): no colon here\nb: 2\n\n"},
        {"a # b: c", "", {}, "Config(149): a # b: c\n"}, // the comment comes first
        {"a: 1\nstop: here\nb: 2\n",
         "stop",
         {{"a", "1"}, {"stop", "here"}},
         "Config(158): stop here\n"},
    };
    for (const auto& c : cases) {
        Recorder r;
        r.stopAt = c.stopAt;
        LogCapture log;
        EXPECT_FALSE(parseConfigText(c.text, c.text + std::strlen(c.text), '#', r)) << c.text;
        EXPECT_EQ(r.pairs, c.pairs) << c.text;
        EXPECT_EQ(log.text(), c.log) << c.text;
    }
}

TEST(ConfigTest, MapsAndRecordsRefuseARepeatedKey) {
    PropertyMap map;
    map.set("Program Path", "/opt/hb");
    LogCapture log;
    EXPECT_FALSE(loadConfigText(map, "a: 1\nb: 2\na: 3\nc: 4\nProgram Path: /tmp\n", '#'));
    EXPECT_EQ(log.text(), "Config(90): a 3\nConfig(158): a 3\nConfig(172)\n");
    EXPECT_EQ(map.map(), (PropertyMap::Map{{"Program Path", "/opt/hb"}, {"a", "1"}, {"b", "2"}}));

    // A record starts at every record key; pairs before the first belong to it.
    std::vector<PropertyMap> out;
    EXPECT_TRUE(loadConfigTextRecords(out, "X: 1\nType: a\nType: b\n", "Type", '#'));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].map(), (PropertyMap::Map{{"Type", "a"}, {"X", "1"}}));
    EXPECT_FALSE(loadConfigTextRecords(out, "Type: c\nX: 1\nX: 2\n", "Type", '#'));
    EXPECT_TRUE(log.has("Config(127): X 2\nConfig(158): X 2\nConfig(183)\n"));
    ASSERT_EQ(out.size(), 3u); // what was read is kept
    EXPECT_EQ(out[2].map(), (PropertyMap::Map{{"Type", "c"}, {"X", "1"}}));
}

TEST(ConfigTest, AMissingFileSaysWhich) {
    const std::string missing = testutil::TempDir().file("missing.cfg");
    PropertyMap map;
    std::vector<PropertyMap> records;
    LogCapture log;
    EXPECT_FALSE(loadConfigFile(map, missing.c_str(), '#'));
    EXPECT_FALSE(loadConfigFileRecords(records, missing.c_str(), "Type", '#'));
    EXPECT_EQ(log.text(), "Config(193): " + missing + "\nConfig(208): " + missing + "\n");
}

TEST(ConfigTest, ADescriptorKeyStartsAPairAndIsFollowedByEquals) {
    const char* descr = "filename=b|name=a|size|e=";
    std::string out = "stale";
    EXPECT_TRUE(getDescrValue(descr, "name", out) && out == "a");
    EXPECT_TRUE(getDescrValue(descr, "e", out) && out.empty());
    for (const char* missing : {"size", "ame", "file", ""})
        EXPECT_FALSE(getDescrValue(descr, missing, out)) << missing;
}

TEST(PropertyMapTest, TypedGettersLeaveTheOutputAloneOnFailure) {
    PropertyMap map;
    map.set("mixed", "12abc");
    map.set("text", "abc");
    map.set("big", u64(4294967296ull));
    map.set("huge", "18446744073709551616");
    EXPECT_EQ(map.getUInt32("mixed", 5u), 12u);
    u32 v = 7;
    u64 w = 9;
    for (const char* bad : {"text", "big", "missing"})
        EXPECT_FALSE(map.getUInt32(bad, &v)) << bad;
    EXPECT_FALSE(map.getUInt64("huge", &w));
    EXPECT_EQ(v + w, 16u);
}

} // namespace
