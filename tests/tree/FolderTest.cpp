#include "tree/Folder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using tree::Folder;
using tree::Node;

using testing::StrEq;
using testing::ThrowsMessage;

namespace {

Folder folderOf(const std::vector<std::string>& names) {
    Folder f(tree::ATTACHED, 5);
    u64 address = 100;
    for (const std::string& name : names)
        f.addNode(Node(name, address++, 0, 0, 0));
    return f;
}

std::vector<std::string> namesOf(const Folder& f) {
    std::vector<std::string> names;
    for (const Node& n : f.getNodes())
        names.push_back(n.getName());
    return names;
}

std::vector<std::string> fixed(const std::vector<std::string>& names) {
    Folder f = folderOf(names);
    f.sortAndFixNames();
    return namesOf(f);
}

TEST(FolderTest, NodeAccessBeyondTheEndThrows) {
    Folder f = folderOf({"a", "b"});
    const Folder& cf = f;
    EXPECT_EQ(f.node(1).getName(), "b");
    EXPECT_THAT([&] { f.node(2); }, ThrowsMessage<std::runtime_error>(StrEq("Node(209)")));
    EXPECT_THAT([&] { cf.node(2); }, ThrowsMessage<std::runtime_error>(StrEq("Node(203)")));
    EXPECT_EQ(f.size(), 2u);

    Folder empty(tree::ATTACHED, 0);
    EXPECT_THAT([&] { empty.node(0); }, ThrowsMessage<std::runtime_error>(StrEq("Node(209)")));
}

TEST(FolderTest, CopiesCarryStateParentAndNodes) {
    Folder f = folderOf({"a"});
    f.setState(tree::LINKS_CHECKED);
    f.node(0).setFlag(Node::SELECTED, true);
    Folder copy = f;
    EXPECT_EQ(copy.getState(), tree::LINKS_CHECKED);
    EXPECT_EQ(copy.getParent(), 5u);
    ASSERT_EQ(copy.size(), 1u);
    EXPECT_TRUE(copy.node(0).hasFlag(Node::SELECTED));
    copy.clear();
    EXPECT_EQ(copy.size(), 0u);
    EXPECT_EQ(f.size(), 1u);
}

TEST(FolderTest, EqualNamesGetNumbersBeforeTheExtension) {
    EXPECT_EQ(fixed({"a.txt", "a.txt", "a.txt"}),
              (std::vector<std::string>{"a.txt", "a-1.txt", "a-2.txt"}));
    EXPECT_EQ(fixed({"readme", "readme"}), (std::vector<std::string>{"readme", "readme-1"}));
    EXPECT_EQ(fixed({"archive.tar.gz", "archive.tar.gz"}),
              (std::vector<std::string>{"archive.tar.gz", "archive.tar-1.gz"}));
    EXPECT_EQ(fixed({".profile", ".profile"}),
              (std::vector<std::string>{".profile", "-1.profile"}));
}

TEST(FolderTest, UniquenessComparesExactly) {
    EXPECT_EQ(fixed({"Readme", "README"}), (std::vector<std::string>{"Readme", "README"}));
}

TEST(FolderTest, CandidatesAreCheckedAgainstNamesTakenSoFar) {
    EXPECT_EQ(fixed({"x", "x", "x-1"}), (std::vector<std::string>{"x", "x-1", "x-1-1"}));
}

TEST(FolderTest, AfterNineHundredNinetyNineTheNameGetsXxx) {
    std::vector<std::string> many(1001, "f");
    std::vector<std::string> names = fixed(many);
    EXPECT_EQ(names[0], "f");
    EXPECT_EQ(names[1], "f-1");
    EXPECT_EQ(names[999], "f-999");
    EXPECT_EQ(names[1000], "f-xxx");
}

TEST(FolderTest, NamesStayUniqueBeyondAThousandEqualOnes) {
    std::vector<std::string> many(2500, "f.jpg");
    std::vector<std::string> names = fixed(many);
    EXPECT_EQ(names[1000], "f.jpg-xxx");
    EXPECT_EQ(names[1001], "f-1.jpg-xxx");
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size());
}

TEST(FolderTest, EmptyNamesAndSeparatorsAreRepaired) {
    EXPECT_EQ(fixed({"/"}), (std::vector<std::string>{"_"}));
    EXPECT_EQ(fixed({""}), (std::vector<std::string>{"_"}));
    EXPECT_EQ(fixed({std::string("a\0b/c", 5)}), (std::vector<std::string>{"a_b_c"}));
    // A repaired name takes its part in the uniqueness like any other.
    EXPECT_EQ(fixed({"_", "/", ""}), (std::vector<std::string>{"_", "_-1", "_-2"}));
}

TEST(FolderTest, EqualNamesKeepTheirListingOrder) {
    // Enough entries that an unstable sort would shuffle the equivalent ones.
    std::vector<std::string> names;
    for (int i = 0; i < 64; ++i)
        names.push_back(i % 2 ? "Name" : "name");
    Folder f = folderOf(names);
    f.sortAndFixNames();
    for (u32 i = 0; i < f.size(); ++i)
        EXPECT_EQ(f.node(i).getAddress(), 100u + i) << i;
    EXPECT_EQ(f.node(0).getName(), "name");
    EXPECT_EQ(f.node(1).getName(), "Name");
    EXPECT_EQ(f.node(2).getName(), "name-1");
    EXPECT_EQ(f.node(3).getName(), "Name-1");
}

TEST(FolderTest, SortPutsFoldersFirst) {
    Folder f = folderOf({"b.txt", "zeta", "a.txt"});
    f.node(1).setFlag(Node::DIRECTORY, true);
    f.sortAndFixNames();
    EXPECT_EQ(namesOf(f), (std::vector<std::string>{"zeta", "a.txt", "b.txt"}));
}

TEST(FolderTest, StatePrinter) {
    std::ostringstream out;
    for (tree::FolderState s :
         {tree::ATTACHED, tree::LINKS_CHECKED, tree::STATUSES_CHECKED, tree::ELEMS_SORTED}) {
        tree::printFolderState(out, s);
        out << ' ';
    }
    EXPECT_EQ(out.str(), "ATTACHED LINKS_CHECKED STATUSES_CHECKED ELEMS_SORTED ");
}

} // namespace
