#include "core/Config.h"

#include "core/Log.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

using testutil::TempDir;
using testutil::writeAll;
using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string logSince(std::size_t mark) {
    return logMemoryText().substr(mark);
}

// Keeps every pair in order, so that empty keys and values show.
class Recorder : public Callback {
public:
    bool handle(const std::string& key, const std::string& value) override {
        pairs.emplace_back(key, value);
        return key != stopAt;
    }
    Pairs pairs;
    std::string stopAt = "\x01";
};

Pairs parse(const std::string& text, bool* ok = nullptr) {
    Recorder r;
    bool result = parseConfigText(text.data(), text.data() + text.size(), '#', r);
    if (ok)
        *ok = result;
    return r.pairs;
}

TEST(ConfigTest, CommentsAndBlankLinesOnlyParseToNothing) {
    bool ok = false;
    EXPECT_TRUE(parse("", &ok).empty());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(parse("# one\r\n\n   \t# two: x\n\t\n#", &ok).empty());
    EXPECT_TRUE(ok);
    PropertyMap map;
    EXPECT_TRUE(loadConfigText(map, "# nothing\n\n", '#'));
    EXPECT_TRUE(map.map().empty());
}

TEST(ConfigTest, LineSyntax) {
    bool ok = false;
    Pairs pairs = parse("Key:value\n"
                        "  Key 2 :  value  \r\n"
                        "Note: a: b # c\n"
                        "Name:\n"
                        ": x\n"
                        "Tabs\t:\tin value\t\r"
                        "Last: no newline",
                        &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(pairs, (Pairs{{"Key", "value"},
                            {"Key 2", "value"},
                            {"Note", "a: b"},
                            {"Name", ""},
                            {"", "x"},
                            {"Tabs", "in value"},
                            {"Last", "no newline"}}));
}

TEST(ConfigTest, LineWithoutColonFailsAndLogsTheRestOfTheText) {
    std::size_t mark = logMemoryText().size();
    bool ok = true;
    Pairs pairs = parse("a: 1\n   no colon here\nb: 2\n", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(pairs, (Pairs{{"a", "1"}}));
    EXPECT_EQ(logSince(mark), "Config(149): no colon here\nb: 2\n\n");

    // The comment comes before the colon.
    EXPECT_EQ(parse("a # b: c", &ok), Pairs{});
    EXPECT_FALSE(ok);
    // The text ends before any colon.
    EXPECT_EQ(parse("key", &ok), Pairs{});
    EXPECT_FALSE(ok);
}

TEST(ConfigTest, RefusedPairStopsTheParse) {
    std::string text = "a: 1\nstop: here\nb: 2\n";
    Recorder r;
    r.stopAt = "stop";
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(parseConfigText(text.data(), text.data() + text.size(), '#', r));
    EXPECT_EQ(r.pairs, (Pairs{{"a", "1"}, {"stop", "here"}}));
    EXPECT_EQ(logSince(mark), "Config(158): stop here\n");
}

TEST(ConfigTest, TextNeedNotEndInNul) {
    // Only the first 5 bytes are the text; the parse must not look further.
    const char text[] = "k: abcdef";
    Recorder r;
    EXPECT_TRUE(parseConfigText(text, text + 5, '#', r));
    EXPECT_EQ(r.pairs, (Pairs{{"k", "ab"}}));
}

TEST(ConfigTest, RepeatedKeyFailsAtItsSecondOccurrence) {
    PropertyMap map;
    map.set("Program Path", "/opt/hb");
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(loadConfigText(map, "a: 1\nb: 2\na: 3\nc: 4\n", '#'));
    EXPECT_EQ(logSince(mark), "Config(90): a 3\nConfig(158): a 3\nConfig(172)\n");
    EXPECT_EQ(map.getString("a", ""), "1");
    EXPECT_EQ(map.getString("b", ""), "2");
    EXPECT_FALSE(map.has("c"));

    // A key put in before loading cannot be set by the file.
    EXPECT_FALSE(loadConfigText(map, "Program Path: /tmp\n", '#'));
    EXPECT_EQ(map.getString("Program Path", ""), "/opt/hb");
}

TEST(ConfigTest, RecordsStartAtEveryRecordKey) {
    std::vector<PropertyMap> out;
    EXPECT_TRUE(loadConfigTextRecords(out, "Type: a\nX: 1\nType: b\n", "Type", '#'));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].map(), (PropertyMap::Map{{"Type", "a"}, {"X", "1"}}));
    EXPECT_EQ(out[1].map(), (PropertyMap::Map{{"Type", "b"}}));

    // Pairs before the first record key belong to the first record.
    out.clear();
    EXPECT_TRUE(loadConfigTextRecords(out, "X: 1\nType: a\n", "Type", '#'));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].map(), (PropertyMap::Map{{"Type", "a"}, {"X", "1"}}));

    // Without any record key there is no record; records are appended.
    EXPECT_TRUE(loadConfigTextRecords(out, "X: 1\nY: 2\n", "Type", '#'));
    EXPECT_EQ(out.size(), 1u);
}

TEST(ConfigTest, FailedRecordsLoadKeepsWhatWasRead) {
    std::vector<PropertyMap> out;
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(
        loadConfigTextRecords(out, "Type: a\nType: b\nX: 1\nX: 2\nType: c\n", "Type", '#'));
    EXPECT_EQ(logSince(mark), "Config(127): X 2\nConfig(158): X 2\nConfig(183)\n");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].getString("Type", ""), "a");
    EXPECT_EQ(out[1].map(), (PropertyMap::Map{{"Type", "b"}, {"X", "1"}}));
}

TEST(ConfigTest, FileLoaders) {
    TempDir dir;
    std::string good = dir.file("good.cfg");
    writeAll(good, "# settings\r\nLocale: de_DE.UTF-8\r\nProgram Icon: icon.png # small\r\n");
    PropertyMap map;
    EXPECT_TRUE(loadConfigFile(map, good.c_str(), '#'));
    EXPECT_EQ(map.map(),
              (PropertyMap::Map{{"Locale", "de_DE.UTF-8"}, {"Program Icon", "icon.png"}}));

    std::string missing = dir.file("missing.cfg");
    std::size_t mark = logMemoryText().size();
    EXPECT_FALSE(loadConfigFile(map, missing.c_str(), '#'));
    EXPECT_EQ(logSince(mark), "Config(193): " + missing + "\n");
    std::vector<PropertyMap> records;
    mark = logMemoryText().size();
    EXPECT_FALSE(loadConfigFileRecords(records, missing.c_str(), "Type", '#'));
    EXPECT_EQ(logSince(mark), "Config(208): " + missing + "\n");

    std::string bad = dir.file("bad.files");
    writeAll(bad, "Type: jpeg\nbroken\n");
    mark = logMemoryText().size();
    EXPECT_FALSE(loadConfigFile(map, bad.c_str(), '#'));
    EXPECT_EQ(logSince(mark), "Config(149): broken\n\nConfig(172)\nConfig(197)\n");
    mark = logMemoryText().size();
    EXPECT_FALSE(loadConfigFileRecords(records, bad.c_str(), "Type", '#'));
    EXPECT_EQ(logSince(mark), "Config(149): broken\n\nConfig(183)\nConfig(212)\n");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].getString("Type", ""), "jpeg");
}

TEST(ConfigTest, DescriptorKeyMustStartAPairAndBeFollowedByEquals) {
    const char* descr = "type=file|name=a|filename=b|size";
    std::string out = "stale";
    EXPECT_TRUE(getDescrValue(descr, "name", out));
    EXPECT_EQ(out, "a");
    EXPECT_TRUE(getDescrValue(descr, "type", out));
    EXPECT_EQ(out, "file");
    EXPECT_TRUE(getDescrValue(descr, "filename", out));
    EXPECT_EQ(out, "b");
    EXPECT_FALSE(getDescrValue(descr, "size", out));
    EXPECT_EQ(out, "");
    out = "stale";
    EXPECT_FALSE(getDescrValue(descr, "ame", out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(getDescrValue(descr, "", out));
    EXPECT_EQ(findDescrKey(descr, "file"), nullptr);

    EXPECT_TRUE(getDescrValue("a=|b=2", "a", out));
    EXPECT_EQ(out, "");
    EXPECT_TRUE(getDescrValue("=x", "", out));
    EXPECT_EQ(out, "x");
}

TEST(PropertyMapTest, SetKeepsOrReplaces) {
    PropertyMap map;
    EXPECT_TRUE(map.set("k", std::string("1")));
    EXPECT_FALSE(map.set("k", std::string("2"), true));
    EXPECT_EQ(map.getString("k", ""), "1");
    EXPECT_TRUE(map.set("k", "3"));
    EXPECT_EQ(map.getString("k", ""), "3");
    map.set("i32", i32(-5));
    map.set("u32", u32(4000000000u));
    map.set("i64", i64(-1));
    map.set("u64", u64(18446744073709551615ull));
    EXPECT_EQ(map.map(), (PropertyMap::Map{{"i32", "-5"},
                                           {"i64", "-1"},
                                           {"k", "3"},
                                           {"u32", "4000000000"},
                                           {"u64", "18446744073709551615"}}));
    PropertyMap copy(map);
    map.clear();
    EXPECT_FALSE(map.has("k"));
    EXPECT_TRUE(copy.has("k"));
}

TEST(PropertyMapTest, GettersLeaveTheOutputAloneOnFailure) {
    PropertyMap map;
    map.set("mixed", "12abc");
    map.set("blank", "  42 ");
    map.set("text", "abc");
    map.set("big", "4294967296");
    map.set("huge", "18446744073709551616");

    u32 v = 7;
    EXPECT_TRUE(map.getUInt32("mixed", &v));
    EXPECT_EQ(v, 12u);
    EXPECT_TRUE(map.getUInt32("blank", &v));
    EXPECT_EQ(v, 42u);
    v = 7;
    EXPECT_FALSE(map.getUInt32("text", &v));
    EXPECT_EQ(v, 7u);
    EXPECT_FALSE(map.getUInt32("big", &v));
    EXPECT_EQ(v, 7u);
    EXPECT_FALSE(map.getUInt32("missing", &v));
    EXPECT_EQ(v, 7u);

    u64 w = 9;
    EXPECT_TRUE(map.getUInt64("big", &w));
    EXPECT_EQ(w, 4294967296ull);
    w = 9;
    EXPECT_FALSE(map.getUInt64("huge", &w));
    EXPECT_EQ(w, 9u);

    EXPECT_EQ(map.getUInt32("text", 5u), 5u);
    EXPECT_EQ(map.getUInt32("mixed", 5u), 12u);
    EXPECT_EQ(map.getUInt64("missing", 63), 63u);

    std::string s = "kept";
    EXPECT_FALSE(map.getString("missing", s));
    EXPECT_EQ(s, "kept");
    EXPECT_TRUE(map.getString("text", s));
    EXPECT_EQ(s, "abc");
    EXPECT_EQ(map.getString("missing", "def"), "def");
}

} // namespace
