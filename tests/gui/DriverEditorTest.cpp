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
    ScriptedMessages messages;
    auto e = edit("");
    gtk_combo_box_set_active(e->getTypeCombo(), 1);
    gtk_spin_button_set_value(e->getRow(DriverEditor::SIZE).spin, 1);
    gtk_spin_button_set_value(e->getRow(DriverEditor::BLOCK_SIZE).spin, 1);
    // Ids and components: "|" ends a pair, "=" starts a value, ", " parts the list.
    const struct {
        const char* id;
        std::string components;
    } refused[] = {
        {"a|type=file", path}, {"a=b", path}, {"", path}, {"ok", path + "|x"}, {"ok", "x=y"}};
    for (const auto& r : refused) {
        gtk_entry_set_text(e->getIdEntry(), r.id);
        gtk_entry_set_text(e->getComponentsEntry(), r.components.c_str());
        EXPECT_EQ(e->accept(), "") << r.id << ' ' << r.components;
    }
    EXPECT_EQ(messages.asked().size(), 5u);
    EXPECT_EQ(messages.asked()[0].kind, MESSAGE_ERROR);
    // A chosen component whose id holds the list's separator never enters it.
    e->addComponent("id=a, b|type=file");
    EXPECT_EQ(gtk_entry_get_text(e->getComponentsEntry()), std::string("x=y"));
    EXPECT_EQ(messages.asked().size(), 6u);
    gtk_entry_set_text(e->getIdEntry(), "fine");
    gtk_entry_set_text(e->getComponentsEntry(), path.c_str());
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
        ASSERT_TRUE(GTK_IS_ENTRY(components));
        gtk_combo_box_set_active(GTK_COMBO_BOX(type), 1);
        gtk_entry_set_text(GTK_ENTRY(components), path.c_str());
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
    gtk_entry_set_text(e.getComponentsEntry(), "first");
    DialogScript script;
    script.on("Select Component", [&](GtkDialog* d) {
        EXPECT_TRUE(guitest::selectRowById(d, src.dev("fd0")));
        gtk_dialog_response(d, GTK_RESPONSE_OK);
    });
    gtk_button_clicked(GTK_BUTTON(e.getAddComponentButton()));
    EXPECT_TRUE(script.done());
    EXPECT_EQ(std::string(gtk_entry_get_text(e.getComponentsEntry())), "first, " + src.dev("fd0"));
}

TEST(KeepCustomDescriptorsTest, SoftwareDriversFollowTheFreshListingInTheirOldOrder) {
    Strings list = {"type=drive|id=old", "type=raid0|id=r|custom=", "type=file|id=f",
                    "type=range|id=g|custom="};
    keepCustomDescriptors(list, {"type=drive|id=new1", "type=drive|id=new2"});
    EXPECT_EQ(list, (Strings{"type=drive|id=new1", "type=drive|id=new2",
                             "type=raid0|id=r|custom=", "type=range|id=g|custom="}));
}

} // namespace
