#include "tree/Folder.h"

#include <gtest/gtest.h>

#include <set>

using tree::Folder;
using tree::Node;
using Names = std::vector<std::string>;

namespace {

// A name given as "~name" is a deleted entry's, shown back with its '~'.
Names fixed(const Names& names, std::size_t folderAt = ~std::size_t{0}) {
    Folder f(tree::ATTACHED, 5);
    u64 address = 100;
    for (const std::string& name : names) {
        const bool deleted = !name.empty() && name[0] == '~';
        Node n(deleted ? name.substr(1) : name, address++, 0, 0, 0);
        n.setFlag(Node::DELETED, deleted);
        f.addNode(n);
    }
    if (folderAt < names.size())
        f.node(static_cast<u32>(folderAt)).setFlag(Node::DIRECTORY, true);
    f.sortAndFixNames();
    Names out;
    for (const Node& n : f.getNodes())
        out.push_back((n.hasFlag(Node::DELETED) ? "~" : "") + n.getName());
    return out;
}

TEST(FolderTest, SortingMakesNamesUniqueAndSafe) {
    const struct {
        Names in;
        Names out;
    } CASES[] = {
        {{"a.txt", "a.txt", "a.txt"}, {"a.txt", "a-1.txt", "a-2.txt"}},
        {{"readme", "readme"}, {"readme", "readme-1"}},
        {{"archive.tar.gz", "archive.tar.gz"}, {"archive.tar.gz", "archive.tar-1.gz"}},
        {{".profile", ".profile"}, {".profile", "-1.profile"}},
        {{"Readme", "README"}, {"Readme", "README-1"}}, // case does not tell names apart
        {{"x", "x", "x-1"}, {"x", "x-1", "x-1-1"}},     // against the names taken so far
        {{"/", "", std::string("a\0b/c", 5)}, {"_-1", "_", "a_b_c"}},
        // A live entry keeps its name however the deleted ones sort or are listed.
        {{"~Report.txt", "Report.txt"}, {"~Report-1.txt", "Report.txt"}},
        {{"~a.txt", "~a.txt", "a.txt"}, {"~a-1.txt", "~a-2.txt", "a.txt"}},
        {{"~x", "x-1", "~x"}, {"~x", "~x-2", "x-1"}},
        {{"~report.txt", "Report.TXT"}, {"~report-1.txt", "Report.TXT"}},
        // Among live names the listing decides, not the sort: a name shown keeps
        // it when the folder is sorted again with one more entry.
        {{"x-1", "x", "x"}, {"x", "x-2", "x-1"}},
        {{"A\xC3\xA9", "a\xC3\x89"}, {"a\xC3\x89-1", "A\xC3\xA9"}},
        // "\xC4\xB1" is the dotless i, whose upper case is "I"; bytes that are
        // not UTF-8 are one character on the destination.
        {{"KIRMIZI.jpg", "k\xC4\xB1rm\xC4\xB1z\xC4\xB1.JPG"},
         {"KIRMIZI.jpg", "k\xC4\xB1rm\xC4\xB1z\xC4\xB1-1.JPG"}},
        {{"a\xFF.txt", "A\xFE.txt"}, {"A\xFE-1.txt", "a\xFF.txt"}},
        // Names are one name where the destination's cleaning makes them one: a
        // name it takes as it is keeps it, one cleaned into it gives way.
        {{"a*.txt", "a?.txt", "a_.txt"}, {"a*-1.txt", "a?-2.txt", "a_.txt"}},
        {{"Data.", "Data_"}, {"Data-1.", "Data_"}},
        {{"Data?", "Data*"}, {"Data*-1", "Data?"}},
        {{"aux", "au_"}, {"au_", "aux-1"}},
        {{"A:b.txt", "a_b.TXT"}, {"A:b-1.txt", "a_b.TXT"}},
        {{"lpt1", "LPT\xC2\xB2"}, {"lpt1", "LPT\xC2\xB2-1"}},
        {{"trail.", "TRAIL_"}, {"trail-1.", "TRAIL_"}},
        {{"~a_.txt", "a*.txt"}, {"a*.txt", "~a_-1.txt"}},
        // A made-up name is taken as the destination compares it too.
        {{"a-1", "a", "A"}, {"a", "A-2", "a-1"}},
    };
    for (const auto& c : CASES)
        EXPECT_EQ(fixed(c.in), c.out);
    EXPECT_EQ(fixed({"b.txt", "zeta", "a.txt"}, 1), (Names{"zeta", "a.txt", "b.txt"}));
    EXPECT_EQ(fixed({"docs", "Docs"}, 1), (Names{"Docs", "docs-1"}));
}

TEST(FolderTest, NamesStayUniqueBeyondAThousandEqualOnes) {
    const Names f = fixed(Names(1001, "f"));
    EXPECT_EQ(f[999], "f-999");
    EXPECT_EQ(f[1000], "f-xxx");
    const Names jpg = fixed(Names(2500, "f.jpg"));
    EXPECT_EQ(jpg[1000], "f.jpg-xxx");
    EXPECT_EQ(jpg[1001], "f-1.jpg-xxx");
    EXPECT_EQ(std::set<std::string>(jpg.begin(), jpg.end()).size(), jpg.size());
}

TEST(FolderTest, EqualNamesKeepTheirListingOrder) {
    // Enough entries that an unstable sort would shuffle the equivalent ones.
    Names names;
    for (int i = 0; i < 64; ++i)
        names.push_back(i % 2 ? "Name" : "name");
    const Names out = fixed(names);
    EXPECT_EQ(Names(out.begin(), out.begin() + 4), (Names{"name", "Name-1", "name-2", "Name-3"}));
}

} // namespace
