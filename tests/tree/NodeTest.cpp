#include "tree/Node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <vector>

using tree::Node;

namespace {

Node file(const std::string& name, tree::NodeLink link = tree::TO) {
    Node n(name, 1, 2, 3, 4);
    n.setLink(link);
    return n;
}

Node folder(const std::string& name, tree::NodeLink link = tree::TO) {
    Node n = file(name, link);
    n.setFlag(Node::DIRECTORY, true);
    return n;
}

TEST(NodeTest, NewNodeIsVisibleToAndGoodInFat) {
    Node n("a", 10, 20, 30, 40);
    EXPECT_EQ(n.getFlags(), 0x0004);
    EXPECT_EQ(n.getLink(), tree::TO);
    EXPECT_EQ(n.getStatus(), tree::GOOD_IN_FAT);
    EXPECT_EQ(n.getAddress(), 10u);
    EXPECT_EQ(n.getIndex(), 20u);
    EXPECT_EQ(n.getSize(), 30u);
    EXPECT_EQ(n.getTime(), 40u);

    Node placeholder;
    EXPECT_EQ(placeholder.getName(), "");
    EXPECT_EQ(placeholder.getAddress(), Node::NONE);
    EXPECT_EQ(placeholder.getIndex(), Node::NONE);
    EXPECT_EQ(placeholder.getSize(), Node::NONE);
    EXPECT_EQ(placeholder.getTime(), 0xFFFFFFFFu);
    EXPECT_EQ(placeholder.getFlags(), 0x0004);
}

TEST(NodeTest, LinkAndStatusReplaceOnlyTheirBits) {
    Node n("a", 0, 0, 0, 0);
    n.setFlag(0x0F01, true);
    ASSERT_EQ(n.getFlags(), 0x0F05);
    n.setLink(tree::GOOD);
    EXPECT_EQ(n.getFlags(), 0x0E05);
    EXPECT_EQ(n.getLink(), tree::GOOD);
    EXPECT_EQ(n.getStatus(), 3u);

    n.setStatus(tree::BAD_IN_FAT);
    EXPECT_EQ(n.getFlags(), 0x0605);
    n.setLink(tree::FROM);
    EXPECT_EQ(n.getFlags(), 0x0505);
    EXPECT_EQ(n.getStatus(), tree::BAD_IN_FAT);
}

TEST(NodeTest, FlagsAreTestedByAnyBitAndCopiedWithTheNode) {
    Node n("a", 0, 0, 0, 0);
    EXPECT_TRUE(n.hasFlag(Node::VISIBLE | Node::SELECTED));
    EXPECT_FALSE(n.hasFlag(Node::DELETED | Node::SELECTED));
    n.setFlag(Node::SELECTED | Node::DELETED, true);
    n.setFlag(Node::VISIBLE, false);
    EXPECT_EQ(n.getFlags(), Node::SELECTED | Node::DELETED);

    Node copy = n;
    EXPECT_EQ(copy.getFlags(), n.getFlags());
    Node assigned("b", 1, 1, 1, 1);
    assigned = n;
    EXPECT_EQ(assigned.getFlags(), n.getFlags());
    EXPECT_EQ(assigned.getName(), "a");
}

TEST(NodeTest, OrderIsFoldersThenLinkThenNameWithoutCase) {
    std::vector<Node> nodes{file("b"), folder("Z"), folder("a"), file("c", tree::GOOD)};
    std::sort(nodes.begin(), nodes.end(), tree::NodeLess);
    std::vector<std::string> names;
    for (const Node& n : nodes)
        names.push_back(n.getName());
    EXPECT_EQ(names, (std::vector<std::string>{"a", "Z", "c", "b"}));

    // FROM sits between GOOD and TO.
    EXPECT_TRUE(tree::NodeLess(file("z", tree::FROM), file("a", tree::TO)));
    EXPECT_TRUE(tree::NodeLess(file("z", tree::GOOD), file("a", tree::FROM)));
    // Equal names without regard to case are equivalent: neither comes first.
    EXPECT_FALSE(tree::NodeLess(file("Readme"), file("README")));
    EXPECT_FALSE(tree::NodeLess(file("README"), file("Readme")));
}

TEST(NodeTest, OnlyAsciiLettersFold) {
    EXPECT_EQ(tree::compareNamesNoCase("ABC", "abc"), 0);
    EXPECT_LT(tree::compareNamesNoCase("ab", "abc"), 0);
    EXPECT_GT(tree::compareNamesNoCase("b", "A"), 0);
    // 0xC4 and 0xE4 are a letter pair in Latin-1, but the charset is unknown.
    EXPECT_NE(tree::compareNamesNoCase("\xC4", "\xE4"), 0);
    // Bytes above 0x7F sort after ASCII, and NUL bytes are compared, not ends.
    EXPECT_LT(tree::compareNamesNoCase("z", "\x80"), 0);
    EXPECT_LT(tree::compareNamesNoCase(std::string("a\0a", 3), std::string("a\0b", 3)), 0);
}

TEST(NodeTest, Printers) {
    std::ostringstream flags;
    tree::printFlags(flags, 0xFFFF);
    EXPECT_EQ(flags.str(),
              "DIRECTORY DELETED VISIBLE SELECTED EXPANDED INVALID_DIRECTORY HAS_UNREADABLE ");

    std::ostringstream some;
    tree::printFlags(some, Node::SYSTEM | Node::VISIBLE | Node::DIRECTORY);
    EXPECT_EQ(some.str(), "DIRECTORY VISIBLE ");

    std::ostringstream links;
    tree::printLink(links, tree::TO);
    links << ' ';
    tree::printLink(links, tree::FROM);
    links << ' ';
    tree::printLink(links, tree::GOOD);
    EXPECT_EQ(links.str(), "TO FROM GOOD");
}

} // namespace
