#include "gui/DriverEditor.h"

#include "core/Config.h"
#include "devices/ReaderFactory.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/FailingReader.h"
#include "tests/support/ScriptedMessages.h"

using guitest::descrValue;
using guitest::DialogScript;
using testutil::ScriptedMessages;
using Strings = std::vector<std::string>;

namespace {

class DriverEditorTest : public guitest::GuiTest {
protected:
    std::unique_ptr<DriverEditor> edit(const std::string& descriptor) {
        return std::make_unique<DriverEditor>(known, nullptr, descriptor, nullptr);
    }
    std::string member(const std::string& name, const std::string& bytes) {
        testutil::writeAll(dir.file(name), bytes);
        return dir.file(name);
    }

    testutil::TempDir dir;
    Strings known;
};

TEST_F(DriverEditorTest, IdsThatWouldBreakTheDescriptorAreRefused) {
    const std::string path = member("x.img", testutil::pattern(4096, 6));
    known = {"id=r0|type=raid0|components=" + path + "|blockSize=512|custom="};
    ScriptedMessages messages;
    auto e = edit("");
    gtk_spin_button_set_value(e->getRow(DriverEditor::SIZE).spin, 1);
    // Ids and components: "|" ends a pair, "=" starts a value, ", " parts the
    // list; an id in use would stand for two drivers; a RAID block holds
    // whole sectors.
    const struct {
        const char* id;
        std::string components;
        int type; // 1 JBOD, 2 RAID0, 3 RAID5
        double blockSize;
        const char* says; // a part of the message (markup)
    } refused[] = {
        {"a|type=file", path, 1, 512, "The ID must not"},
        {"a=b", path, 1, 512, "The ID must not"},
        {"", path, 1, 512, "The ID must not"},
        {"ok", path + "|x", 1, 512, "A component ID"},
        {"ok", "x=y", 1, 512, "A component ID"},
        {"r0", path, 1, 512, "r0&quot; is already in use"},
        {"ok", path, 2, 0, "Block Size: 0 "},
        {"ok", path, 3, 0, "Block Size: 0 "},
        {"ok", path, 2, 1000, "Block Size: 1000 is not a multiple of the sector size"},
    };
    for (const auto& r : refused) {
        gtk_entry_set_text(e->getIdEntry(), r.id);
        e->setComponents(r.components);
        gtk_combo_box_set_active(e->getTypeCombo(), r.type);
        gtk_spin_button_set_value(e->getRow(DriverEditor::BLOCK_SIZE).spin, r.blockSize);
        const std::size_t before = messages.asked().size();
        EXPECT_EQ(e->accept(), "") << r.id << ' ' << r.components;
        ASSERT_EQ(messages.asked().size(), before + 1) << r.says;
        EXPECT_EQ(messages.asked().back().kind, MESSAGE_ERROR);
        EXPECT_NE(messages.asked().back().text.find(r.says), std::string::npos)
            << messages.asked().back().text;
    }
    // The driver being edited keeps its own id.
    EXPECT_EQ(descrValue(DriverEditor(known, nullptr, known[0], nullptr).accept(), "id"), "r0");
    gtk_combo_box_set_active(e->getTypeCombo(), 1);
    // A chosen component whose id holds the list's separator never enters it.
    e->setComponents("x=y");
    const std::size_t before = messages.asked().size();
    e->addComponent("id=a, b|type=file");
    EXPECT_EQ(e->components(), "x=y");
    EXPECT_EQ(messages.asked().size(), before + 1);
    gtk_entry_set_text(e->getIdEntry(), "fine");
    e->setComponents(path);
    EXPECT_EQ(descrValue(e->accept(), "id"), "fine");
}

TEST_F(DriverEditorTest, TheDialogStaysUntilTheDriverCanBeReadOrIsCancelled) {
    const std::string path = member("m.img", testutil::pattern(2048, 7));
    ScriptedMessages messages;
    DialogScript script;
    script
        .on("Driver Editor",
            [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_OK); }) // no type yet
        .on("Driver Editor", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_CANCEL); });
    EXPECT_EQ(runDriverEditor(known, nullptr, "", nullptr), "");
    EXPECT_TRUE(script.done());
    EXPECT_EQ(messages.asked().size(), 1u);

    DialogScript ok;
    ok.on("Driver Editor", [&](GtkDialog* d) {
        GtkWidget* type = guitest::controlOfLabel(d, "Type:");
        GtkWidget* components = guitest::controlOfLabel(d, "Component IDs:");
        ASSERT_TRUE(GTK_IS_COMBO_BOX(type));
        ASSERT_TRUE(GTK_IS_TEXT_VIEW(components));
        gtk_combo_box_set_active(GTK_COMBO_BOX(type), 1);
        gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(components)), path.c_str(),
                                 -1);
        gtk_combo_box_set_active(GTK_COMBO_BOX(type), 2);
        gtk_combo_box_set_active(GTK_COMBO_BOX(type), 1);
        gtk_dialog_response(d, GTK_RESPONSE_OK);
    });
    const std::string d = runDriverEditor(known, nullptr, "", nullptr);
    EXPECT_EQ(descrValue(d, "components"), path);
    EXPECT_EQ(descrValue(d, "size"), "2048");
}

TEST_F(DriverEditorTest, RowsThatGoLeaveNoGap) {
    auto e = edit("id=r|type=range");
    GtkWidget* window = GTK_WIDGET(e->getDialog());
    // Runs events until the window is as high as its rows ask, or a time
    // limit has passed: an X server shared by busy test programs answers a
    // resize in its own time.
    auto settled = [window] {
        const gint64 until = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
        for (;;) {
            gdk_display_sync(gdk_display_get_default());
            guitest::pumpEvents();
            GtkRequisition needed;
            gtk_widget_size_request(window, &needed);
            if (window->allocation.height == needed.height)
                return true;
            if (g_get_monotonic_time() > until)
                return false;
            g_usleep(1000);
        }
    };
    gtk_widget_show(window);
    ASSERT_TRUE(settled());
    const int withRange = window->allocation.height;
    // Range (Offset and Size), then JBOD (neither), then RAID5 (Block Size).
    for (int type : {1, 3}) {
        gtk_combo_box_set_active(e->getTypeCombo(), type);
        EXPECT_TRUE(settled()) << type;
        EXPECT_LT(window->allocation.height, withRange) << type;
    }
}

TEST_F(DriverEditorTest, AddComponentPicksARowOfTheSourcesTree) {
    guitest::FakeSources src;
    src.vfs->listChildren("", known);
    DriverEditor e(known, src.vfs.get(), "", nullptr);
    e.setComponents("first");
    DialogScript script;
    script.on("Select Component", [&](GtkDialog* d) {
        EXPECT_TRUE(guitest::selectRowById(d, src.dev("fd0")));
        gtk_dialog_response(d, GTK_RESPONSE_OK);
    });
    gtk_button_clicked(GTK_BUTTON(e.getAddComponentButton()));
    EXPECT_TRUE(script.done());
    EXPECT_EQ(e.components(), "first, " + src.dev("fd0"));
    // Each component on a line of its own, none scrolled out of sight.
    EXPECT_EQ(gtk_text_buffer_get_line_count(gtk_text_view_get_buffer(e.getComponentsView())), 2);
}

TEST(KeepCustomDescriptorsTest, SoftwareDriversFollowTheFreshListingInTheirOldOrder) {
    Strings list = {"type=drive|id=old", "type=raid0|id=r|custom=", "type=file|id=f",
                    "type=range|id=g|custom="};
    keepCustomDescriptors(list, {"type=drive|id=new1", "type=drive|id=new2"});
    EXPECT_EQ(list, (Strings{"type=drive|id=new1", "type=drive|id=new2",
                             "type=raid0|id=r|custom=", "type=range|id=g|custom="}));
}

} // namespace
