#include "gui/TreeInterface.h"

#include "tests/gui/TreeViewTestSupport.h"
#include "tree/ParserFilter.h"
#include "tree/ParserSelect.h"

#include <sstream>

namespace {

using guitest::DialogScript;

// The command part of a view, without widgets: the cursor rows are set by the
// test, and what the commands ask of the widgets is recorded.
class CommandsOnly : public TreeInterface {
public:
    explicit CommandsOnly(const std::string& description)
        : TreeInterface(&config_), map_(guitest::testMap(description)) {
        tree::ParserFilter(map_.get(), filter().get()).run(nullptr);
    }

    void selectByMask() override {}
    void refreshTexts() override {}
    GuiContext* getContext() override { return &context_; }
    FrTreeInterface* getInterface() override { return &ui_; }
    tree::Map* getMap() override { return map_.get(); }
    void refreshRows() override { ++refreshed; }
    void reload() override { ++reloaded; }
    bool getCurrentNode(tree::MapPosition& out) override {
        if (!hasCurrent)
            return false;
        out = current;
        return true;
    }
    bool getSelectedFileNode(tree::MapPosition& out) override {
        if (!hasFileCursor)
            return false;
        out = fileCursor;
        return true;
    }
    bool selectNode(const tree::MapPosition& node) override {
        selected.push_back(node);
        return true;
    }

    std::string nameAt(const tree::MapPosition& position) {
        return openCursor(position, false, false)->getName();
    }
    // The position of the entry named `name` anywhere in the tree.
    tree::MapPosition locate(const std::string& name) {
        std::unique_ptr<tree::MapIterator> it = openCursor(tree::START_POSITION, false, false);
        std::unordered_set<u64> entered;
        do {
            if (it->getName() == name)
                return it->getPosition();
        } while (nextNodeDepthFirst(*it, entered));
        ADD_FAILURE() << "no entry " << name;
        return tree::START_POSITION;
    }
    // Marks an entry and its subtree as the views do.
    void mark(const std::string& name) {
        tree::ParserSelect(map_.get(), std::string()).run(locate(name), true, nullptr);
    }

    bool hasCurrent = false;
    tree::MapPosition current;
    bool hasFileCursor = false;
    tree::MapPosition fileCursor;
    std::vector<tree::MapPosition> selected;
    int refreshed = 0;
    int reloaded = 0;

private:
    PropertyMap config_;
    SharedPtr<tree::Map> map_;
    gtk::Interface ui_{nullptr};
    GuiContext context_{&ui_, nullptr, nullptr, nullptr};
};

const char* const TREE = R"(
root 5
dir 10 in=5 name=docs
file 20 in=10 name=MyDocument.txt size=1000 time=1262304000
file 21 in=10 name=a.docx size=5
file 22 in=5 name=readme.txt size=7
)";

class TreeInterfaceTest : public guitest::EnglishUtcTest {
protected:
    testutil::ScriptedMessages messages{1};
};

TEST(TreeInterfaceHeaderTest, ColumnsCountCharactersNotBytes) {
    std::string line = "-- N\xC3\xA4me ";
    TreeInterface::addHeaderColumn(line,
                                   "Gr\xC3\xB6\xC3\x9F"
                                   "e",
                                   12);
    EXPECT_EQ("-- N\xC3\xA4me ---- Gr\xC3\xB6\xC3\x9F"
              "e ",
              line);
    // A line already past the column gets no padding.
    std::string longLine(40, 'x');
    TreeInterface::addHeaderColumn(longLine, "Size", 32);
    EXPECT_EQ(std::string(40, 'x') + " Size ", longLine);
}

TEST_F(TreeInterfaceTest, TotalsCountAllAndMarkedEntries) {
    CommandsOnly view(TREE);
    view.showTotals();
    ASSERT_EQ(1u, messages.asked().size());
    EXPECT_EQ(MESSAGE_INFO_CLOSE, messages.asked()[0].kind);
    EXPECT_EQ("Total Files and Folders:\n3 file(s) 1 folder(s) 1,012 bytes\n\n"
              "Total files selected to be recovered:\n0 file(s) 0 folder(s) 0 bytes",
              messages.asked()[0].text);
    view.mark("docs");
    view.showTotals();
    ASSERT_EQ(2u, messages.asked().size());
    EXPECT_NE(std::string::npos,
              messages.asked()[1].text.find("recovered:\n2 file(s) 1 folder(s) 1,005 bytes"))
        << messages.asked()[1].text;
}

TEST_F(TreeInterfaceTest, PropertiesOfTheCurrentNodeOnly) {
    CommandsOnly view(TREE);
    {
        DialogScript script;
        view.showProperties();
        EXPECT_EQ(0u, script.answered());
    }
    view.hasCurrent = true;
    view.current = view.locate("readme.txt");
    std::string text;
    DialogScript script;
    script.then(DialogScript::titled("Properties"), [&text](GtkDialog* editor) {
        text = guitest::editorText(editor);
        guitest::sendDelete(GTK_WIDGET(editor));
    });
    view.showProperties();
    EXPECT_EQ(1u, script.answered());
    EXPECT_NE(std::string::npos, text.find("readme.txt")) << text;
}

TEST_F(TreeInterfaceTest, FindMatchesAnywhereInTheNameInAnyCase) {
    CommandsOnly view(TREE);
    view.findParams().setMask("doc");
    view.find(true);
    // A folder's entries are in name order without regard to case.
    ASSERT_EQ(1u, view.selected.size());
    EXPECT_EQ("a.docx", view.nameAt(view.selected[0]));
    // Find Next from that file goes on to the next match.
    view.hasFileCursor = true;
    view.fileCursor = view.selected[0];
    view.find(true);
    ASSERT_EQ(2u, view.selected.size());
    EXPECT_EQ("MyDocument.txt", view.nameAt(view.selected[1]));

    view.findParams().setMask(".DOC");
    view.hasFileCursor = false;
    view.find(true);
    ASSERT_EQ(3u, view.selected.size());
    EXPECT_EQ("a.docx", view.nameAt(view.selected[2]));
}

TEST_F(TreeInterfaceTest, FindNextWithoutACursorStartsAtTheRootAndStepsFirst) {
    // The walk steps off the "ROOT" entry before it tests anything, so a mask
    // that matches the root's own name finds nothing there.
    CommandsOnly view("root 5\nfile 20 in=5 name=ROOTS.txt\n");
    view.findParams().setMask("ROOT");
    view.find(true);
    ASSERT_EQ(1u, view.selected.size());
    EXPECT_EQ("ROOTS.txt", view.nameAt(view.selected[0]));
    EXPECT_TRUE(messages.asked().empty());
}

TEST_F(TreeInterfaceTest, OpenCursorRefusesPositionsOutsideTheMap) {
    CommandsOnly view(TREE);
    EXPECT_TRUE(view.openCursor(tree::START_POSITION, true, false));
    EXPECT_FALSE(view.openCursor(tree::MapPosition{tree::TOP_FOLDER, 7}, true, false));
    EXPECT_FALSE(view.openCursor(tree::MapPosition{12345, 0}, true, false));
}

} // namespace
