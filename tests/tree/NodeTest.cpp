#include "tree/Node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using tree::Node;

namespace {

Node entry(const std::string& name, tree::NodeLink link, bool folder = false) {
    Node n(name, 1, 2, 3, 4);
    n.setLink(link);
    n.setFlag(Node::DIRECTORY, folder);
    return n;
}

TEST(NodeTest, LinkAndStatusReplaceOnlyTheirBits) {
    Node n("a", 0, 0, 0, 0);
    n.setFlag(0x0F01, true);
    ASSERT_EQ(n.getFlags(), 0x0F05); // VISIBLE from the start
    n.setLink(tree::GOOD);
    EXPECT_EQ(n.getFlags(), 0x0E05);
    n.setStatus(tree::BAD_IN_FAT);
    n.setLink(tree::FROM);
    EXPECT_EQ(n.getFlags(), 0x0505);
    EXPECT_EQ(n.getStatus(), tree::BAD_IN_FAT);
}

TEST(NodeTest, OrderIsFoldersThenLinkThenNameWithoutAsciiCase) {
    std::vector<Node> nodes{entry("b", tree::TO),       entry("z", tree::FROM),
                            entry("Z", tree::TO, true), entry("a", tree::TO, true),
                            entry("c", tree::GOOD),     entry("\x80", tree::TO),
                            entry("B", tree::TO)};
    std::stable_sort(nodes.begin(), nodes.end(), tree::NodeLess);
    std::string names;
    for (const Node& n : nodes)
        names += n.getName() + " ";
    // "b" and "B" are equivalent; bytes above 0x7F follow ASCII.
    EXPECT_EQ(names, "a Z c z b B \x80 ");
    // Only ASCII letters fold (0xC4 and 0xE4 are a pair in Latin-1 only), and
    // NUL bytes are compared, not taken as ends.
    EXPECT_NE(tree::compareNamesNoCase("\xC4", "\xE4"), 0);
    EXPECT_LT(tree::compareNamesNoCase(std::string("a\0a", 3), std::string("a\0b", 3)), 0);
    EXPECT_LT(tree::compareNamesNoCase("ab", "ABC"), 0);
}

} // namespace
