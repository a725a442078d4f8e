// Names and texts from a damaged disk reach labels, stores and markup: markup
// characters must show as they are (never blank the box) and broken UTF-8
// must become valid before GTK sees it. One table over every place that
// builds such text.

#include "gui/DrivesTree.h"
#include "gui/TreeViewFileList.h"
#include "gui/TreeViewWidgets.h"
#include "tests/gui/TreeViewTestSupport.h"

namespace {

const std::string HOSTILE[] = {"a&b", "<b>bold</b>", "caf\xe9", "\xff\xfe<&>\xc3", "x\"'y"};

bool parsesAsMarkup(const std::string& markup, std::string* text = nullptr) {
    gchar* plain = nullptr;
    const bool ok = pango_parse_markup(markup.c_str(), -1, 0, nullptr, &plain, nullptr, nullptr);
    if (ok && text)
        *text = plain;
    g_free(plain);
    return ok;
}

TEST(HostileTextTest, EveryMarkupBuilderEscapesAndMendsUtf8) {
    for (const std::string& s : HOSTILE) {
        const std::string valid = gtk::validUtf8(s);
        EXPECT_TRUE(g_utf8_validate(valid.c_str(), -1, nullptr)) << s;
        std::string shown;
        EXPECT_TRUE(parsesAsMarkup(gtk::escapeMarkup(s), &shown)) << s;
        EXPECT_EQ(shown, valid);
        EXPECT_TRUE(parsesAsMarkup(gtk::statusMarkup(tree::MAP_NTFS, 2, true, false, s))) << s;
        for (const char* type : {"drive", "partition", "share", "directory", "file"}) {
            const std::string d = std::string("type=") + type + "|id=" + s + "|model=" + s +
                                  "|comment=" + s + "|name=" + s + "|size=1";
            EXPECT_TRUE(parsesAsMarkup(gtk::DrivesTree::nodeText(d, s, type, 7))) << type << s;
        }
    }
}

class HostileNamesTest : public guitest::GuiTest {};

TEST_F(HostileNamesTest, TreeViewRowsShowBrokenNames) {
    guitest::ShownTree shown(
        guitest::testMap("root 5\ndir 10 in=5 name=d\xe9j\xe0\nfile 21 in=10 name=x size=1\n"
                         "file 20 in=5 name=<&>\xff.txt size=3\n"));
    for (const guitest::FileRow& row : guitest::fileRows(shown.files())) {
        EXPECT_TRUE(g_utf8_validate(row.name.c_str(), -1, nullptr)) << row.name;
        EXPECT_TRUE(parsesAsMarkup(row.status));
    }
    for (const std::string& name : guitest::folderRows(shown.folders()))
        EXPECT_TRUE(g_utf8_validate(name.c_str(), -1, nullptr)) << name;
    EXPECT_EQ(guitest::fileNames(shown.files()),
              (std::vector<std::string>{"d\xef\xbf\xbdj\xef\xbf\xbd", "<&>\xef\xbf\xbd.txt"}));
}

} // namespace
