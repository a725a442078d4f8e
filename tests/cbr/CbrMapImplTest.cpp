#include "cbr/CbrMapImpl.h"

#include "core/Log.h"
#include "tests/support/FailingReader.h"
#include "tests/support/TestUtil.h"
#include "tests/support/TreeListing.h"
#include "tree/ParserReport.h"
#include "tree/Recoverer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using cbr::FileInfo;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::ThrowsMessage;
using testutil::TempDir;
using tree::Node;
using CbrMap = tree::cbr::MapImpl;

constexpr u64 TYPE_FOLDER_1 = 0xFFFFFC17;

// Byte i of the source differs from its neighbours and from the same place
// in other sectors, so that a byte read from the wrong place shows.
std::string sourceBytes(u64 sectors) {
    std::string out(sectors * 512, '\0');
    for (u64 i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>((i * 7 + i / 512) % 251);
    return out;
}

FileInfo carved(u64 start, u64 size, const std::string& type, const std::string& name = "") {
    FileInfo f;
    f.setStart(start);
    f.setSize(size);
    f.setType(type);
    if (!name.empty())
        f.getAttributes().set("name", name);
    return f;
}

class Sink : public tree::Recoverer {
public:
    void beginFile(const tree::FileEntry& entry, const std::vector<std::string>&) override {
        entries.push_back(entry);
        data.clear();
    }
    void write(const void* bytes, u32 size) override {
        data.append(static_cast<const char*>(bytes), size);
        ++writes;
    }
    void endFile() override { ++ended; }
    std::vector<tree::FileEntry> entries;
    std::string data;
    int writes = 0;
    int ended = 0;
};

class CbrMapImplTest : public testing::Test {
protected:
    explicit CbrMapImplTest(u64 sectors = 4096) : bytes(sourceBytes(sectors)) {
        memory = SharedPtr<dt::Reader>(new testutil::MemoryReader(bytes));
        failing = new testutil::FailingReader(memory, {});
        driver = SharedPtr<Driver>(new Driver(SharedPtr<dt::Reader>(failing), 512));
    }

    std::unique_ptr<CbrMap> build(const std::string& layout) {
        testutil::writeAll(dir.file("cbr.directories"), layout);
        return std::make_unique<CbrMap>(driver, &unreadable, &files, dir.file("cbr.directories"));
    }

    static std::vector<std::string> names(tree::Folder* folder) {
        std::vector<std::string> out;
        for (const Node& n : folder->getNodes())
            out.push_back(n.getName());
        return out;
    }

    std::string bytes;
    SharedPtr<dt::Reader> memory;
    testutil::FailingReader* failing;
    SharedPtr<Driver> driver;
    UnreadableSectors unreadable;
    std::vector<FileInfo> files;
    TempDir dir;
};

const char* const LAYOUT = "# folders\n"
                           "Type: Pictures\nSubtype: JPEG\nFiles: jpeg\n"
                           "Type: Pictures\nSubtype: Other pictures\nFiles: png  gif \t\n"
                           "Type: Audio\nSubtype: MP3\nFiles: mp3\n";

TEST_F(CbrMapImplTest, FilesLandInTheSubFolderOfTheirTypeOrInOther) {
    files = {carved(1048576, 1000, "jpeg"), carved(4096, 10, "mp3", "  Song\t"),
             carved(8192, 20, "gif"), carved(512, 30, "xyz"), carved(1024, 40, "png", " \t ")};
    files[1].getAttributes().setUInt32("time", 12345);
    auto map = build(LAYOUT);
    EXPECT_EQ(map->getKind(), 3);

    auto tree = testutil::listTree(*map);
    std::vector<std::string> paths;
    for (const auto& entry : tree)
        paths.push_back(entry.first);
    EXPECT_THAT(paths,
                ElementsAre("Audio", "Audio/MP3", "Audio/MP3/Song.mp3", "Other", "Other/1.xyz",
                            "Pictures", "Pictures/JPEG", "Pictures/JPEG/2048.jpeg",
                            "Pictures/Other pictures", "Pictures/Other pictures/16.gif",
                            "Pictures/Other pictures/2.png"));

    const Node& jpeg = tree.at("Pictures/JPEG/2048.jpeg");
    EXPECT_EQ(jpeg.getAddress(), 2048u);
    EXPECT_EQ(jpeg.getSize(), 1000u);
    EXPECT_EQ(jpeg.getTime(), 0xFFFFFFFFu);
    EXPECT_EQ(tree.at("Audio/MP3/Song.mp3").getTime(), 12345u);
    tree::Folder* root = map->getFolder(CbrMap::ROOT_ADDRESS);
    EXPECT_EQ(root->node(0).getAddress(), TYPE_FOLDER_1);
    EXPECT_EQ(root->node(2).getAddress(), 3u);
    EXPECT_TRUE(map->checkIntegrity());

    // The folders' addresses are the map's own, no place to show; a file's
    // is its first sector, in Properties and in the address report alike.
    std::ostringstream folder;
    map->printNodeInformation(folder, tree::MapPosition{CbrMap::ROOT_ADDRESS, 0});
    EXPECT_THAT(folder.str(), HasSubstr("Address:\tnone\n"));
    // Nor has the parent of "Pictures", which holds "JPEG": the root.
    std::ostringstream kind;
    map->printNodeInformation(kind, tree::MapPosition{TYPE_FOLDER_1, 0});
    EXPECT_THAT(kind.str(), HasSubstr("Parent:\tnone\n"));
    std::ostringstream report;
    tree::ParserReport(map.get(), &report, true, nullptr).run();
    EXPECT_THAT(report.str(), HasSubstr("1000       2048 /       2048 "));
}

TEST_F(CbrMapImplTest, LayoutsOfRepeatedEmptyOrMissingTypes) {
    auto map = build("Type: A\nSubtype: one\nType: B\nSubtype: two\nType: A\nSubtype: three\n");
    EXPECT_THAT(names(map->getFolder(CbrMap::ROOT_ADDRESS)), ElementsAre("A", "B", "A", "Other"));
    EXPECT_THAT(names(map->getFolder(TYPE_FOLDER_1 + 2)), ElementsAre("three"));

    // Without records every file lands in "Other", neither sorted nor made unique.
    files = {carved(4096, 1, "b"), carved(512, 1, "a"), carved(512, 1, "a")};
    map = build("# nothing here\n");
    EXPECT_THAT(names(map->getFolder(CbrMap::ROOT_ADDRESS)), ElementsAre("Other"));
    EXPECT_THAT(names(map->getFolder(0)), ElementsAre("8.b", "1.a", "1.a"));

    // A record without Type makes no folder: its files go to "Other", with a word in the log.
    files = {carved(512, 1, "jpeg")};
    testutil::LogCapture log;
    map = build("Type:\nSubtype: JPEG\nFiles: jpeg\nType: B\nSubtype: b\nFiles: b\n");
    EXPECT_TRUE(log.has("CbrMapImpl(90): record 0 has no Type\n"));
    EXPECT_THAT(names(map->getFolder(CbrMap::ROOT_ADDRESS)), ElementsAre("B", "Other"));
    EXPECT_THAT(names(map->getFolder(2)), ElementsAre("1.jpeg"));
    EXPECT_TRUE(map->checkIntegrity());
}

// A stored name stops at its first NUL; one of blanks alone gives way to the
// sector number.
TEST_F(CbrMapImplTest, NamesStopAtTheirFirstNul) {
    files = {carved(512, 1, "mp3", std::string("Song\0junk", 9)),
             carved(1024, 1, "mp3", std::string("\0x", 2))};
    auto map = build("");
    EXPECT_THAT(names(map->getFolder(0)), ElementsAre("Song.mp3", "2.mp3"));
}

TEST_F(CbrMapImplTest, AMissingLayoutFailsTheConstruction) {
    const std::string path = dir.file("none");
    testutil::LogCapture log;
    EXPECT_THAT([&] { CbrMap(driver, &unreadable, &files, path); },
                ThrowsMessage<std::runtime_error>("CbrMapImpl(57)"));
    EXPECT_TRUE(log.has("CbrMapImpl(56): " + path + "\n"));
}

TEST_F(CbrMapImplTest, UnreadableSectorsOfAFileMarkItsNode) {
    unreadable.runs().push_back({100, 2});
    files = {carved(99 * 512, 513, "x"), carved(98 * 512, 512, "x"), carved(101 * 512, 0, "x"),
             carved(101 * 512, 1, "x")};
    auto map = build("");
    tree::Folder* other = map->getFolder(0);
    EXPECT_TRUE(other->node(0).hasFlag(Node::HAS_UNREADABLE));
    EXPECT_FALSE(other->node(1).hasFlag(Node::HAS_UNREADABLE));
    EXPECT_FALSE(other->node(2).hasFlag(Node::HAS_UNREADABLE));
    EXPECT_TRUE(other->node(3).hasFlag(Node::HAS_UNREADABLE));
}

TEST_F(CbrMapImplTest, ASizePastTheSourcesEndIsCut) {
    files = {carved(4000 * 512, ~u64(0) - 5, "x"), carved(~u64(0), 100, "x")};
    auto map = build("");
    EXPECT_EQ(map->getFolder(0)->node(0).getSize(), 96u * 512);
    EXPECT_EQ(map->getFolder(0)->node(1).getSize(), 0u);
}

TEST_F(CbrMapImplTest, ReadNodeDataReadsFromTheFilesFirstSectorOn) {
    files = {carved(10 * 512, 5000, "x")};
    auto map = build("");
    Node& node = map->getFolder(0)->node(0);
    std::vector<u8> buffer(2000, 0);
    auto expect = [&](u64 offset, u32 size) {
        EXPECT_EQ(map->readNodeData(node, buffer.data(), size, offset), static_cast<int>(size));
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer.data()), size),
                  bytes.substr(10 * 512 + offset, size))
            << offset << "+" << size;
    };
    // Bytes 188 to 287 of the file's second sector.
    expect(700, 100);
    expect(100, 1500); // a partial sector, two whole ones, a partial one
    expect(1024, 1024);
    expect(512, 10);
    EXPECT_EQ(map->readNodeData(node, buffer.data(), 0, 0), 0);

    // Each of the three steps fails on its own.
    failing->addBadSector(11);
    EXPECT_EQ(map->readNodeData(node, buffer.data(), 100, 700), -5);
    EXPECT_EQ(map->readNodeData(node, buffer.data(), 512, 512), -5);
    EXPECT_EQ(map->readNodeData(node, buffer.data(), 100, 0), 100);
    EXPECT_EQ(map->readNodeData(node, buffer.data(), 600, 0), -5);
}

TEST_F(CbrMapImplTest, RecoveringReplacesOnlyTheSectorsThatFail) {
    const u64 size = 70000; // two chunks, the second one partial
    files = {carved(20 * 512, size, "x"), carved(0, 0, "empty")};
    auto map = build("");
    failing->addBadSector(20 + 3);
    failing->addBadSector(20 + 130);

    Sink sink;
    testutil::LogCapture log;
    EXPECT_FALSE(map->recoverNode(sink, {"Other"}, map->getFolder(0)->node(0)));
    EXPECT_THAT(log.text(), HasSubstr("CbrMapImpl(148): 20 128\n"));
    EXPECT_THAT(log.text(), HasSubstr("CbrMapImpl(148): 148 9\n"));
    ASSERT_EQ(sink.entries.size(), 1u);
    EXPECT_EQ(sink.entries[0].name, "20.x");
    EXPECT_EQ(sink.entries[0].size, size);
    EXPECT_EQ(sink.writes, 2);
    EXPECT_EQ(sink.ended, 1);

    std::string expected = bytes.substr(20 * 512, size);
    for (u64 bad : {3, 130}) {
        std::string fill(512, '\0');
        fillUnreadablePattern(reinterpret_cast<u8*>(&fill[0]), 512);
        expected.replace(bad * 512, 512, fill);
    }
    ASSERT_EQ(sink.data.size(), expected.size());
    EXPECT_TRUE(sink.data == expected);

    // A file of 0 bytes is opened and closed without a read.
    const std::size_t reads = failing->requests().size();
    Sink empty;
    EXPECT_TRUE(map->recoverNode(empty, {"Other"}, map->getFolder(0)->node(1)));
    EXPECT_EQ(empty.entries.at(0).name, "0.empty");
    EXPECT_EQ(empty.writes, 0);
    EXPECT_EQ(empty.ended, 1);
    EXPECT_EQ(failing->requests().size(), reads);
}

} // namespace
