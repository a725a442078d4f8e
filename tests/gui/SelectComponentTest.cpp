#include "gui/SelectComponent.h"

#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

#include <deque>
#include <functional>

using guitest::descrValue;
using guitest::FakeSources;
using testutil::ScriptedMessages;

namespace {

class SelectComponentTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        if (IsSkipped())
            return;
        src.vfs->listChildren("", known);
        known.push_back("type=raid0|id=r0|components=a,b|size=4|custom=");
        select = std::make_unique<SelectComponent>(known, src.vfs.get(), nullptr);
    }
    // Runs the dialog; each action runs inside its loop.
    std::string run(std::deque<std::function<void()>> actions) {
        actions_ = std::move(actions);
        const guint source = g_timeout_add(20, &SelectComponentTest::tick, this);
        const std::string result = select->run();
        g_source_remove(source);
        EXPECT_TRUE(actions_.empty());
        return result;
    }
    static gboolean tick(gpointer data) {
        auto* self = static_cast<SelectComponentTest*>(data);
        GtkDialog* dialog = self->select->getDialog();
        if (dialog == nullptr || !gtk_widget_get_mapped(GTK_WIDGET(dialog)))
            return TRUE;
        if (self->actions_.empty()) {
            ADD_FAILURE() << "the dialog is still up";
            gtk_dialog_response(dialog, GTK_RESPONSE_CANCEL);
            return TRUE;
        }
        auto action = self->actions_.front();
        self->actions_.pop_front();
        action();
        return TRUE;
    }
    bool okSensitive() const {
        GtkWidget* ok = guitest::findButton(GTK_WIDGET(select->getDialog()), GTK_STOCK_OK);
        return ok && gtk_widget_get_sensitive(ok);
    }
    void respond(int response) { gtk_dialog_response(select->getDialog(), response); }

    FakeSources src;
    std::vector<std::string> known;
    std::unique_ptr<SelectComponent> select;

private:
    std::deque<std::function<void()>> actions_;
};

TEST_F(SelectComponentTest, ActivatingAChoosableRowAnswersOk) {
    const std::string result = run({[&] {
        GtkTreeView* view = select->getTree().getView();
        select->getTree().selectPath(src.mount.path()); // a folder: nothing happens
        GtkTreePath* path = nullptr;
        gtk_tree_view_get_cursor(view, &path, nullptr);
        gtk_tree_view_row_activated(view, path, nullptr);
        gtk_tree_path_free(path);
        select->getTree().selectById(src.dev("sda"));
        gtk_tree_view_get_cursor(view, &path, nullptr);
        gtk_tree_view_row_activated(view, path, nullptr);
        gtk_tree_path_free(path);
    }});
    EXPECT_EQ(descrValue(result, "id"), src.dev("sda"));
}

} // namespace
