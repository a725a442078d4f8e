#include "gui/Wizard.h"

#include "gui/WizardPage.h"
#include "gui/WizardPageWithTreeView.h"
#include "tests/gui/GuiTest.h"

#include <gdk/gdkkeysyms.h>

namespace {

using guitest::DialogScript;

// A page that shows its title and logs "title:response".
class TestPage : public gtk::WizardPage {
public:
    TestPage(gtk::Wizard* w, const char* title, bool hasBack, std::vector<std::string>& log)
        : WizardPage(w, title, hasBack), log_(log) {}
    int run() override {
        showPage(getTitle());
        const int response = getWizard()->run();
        log_.push_back(std::string(getTitle()) + ":" + std::to_string(response));
        finishPage();
        return response;
    }

private:
    std::vector<std::string>& log_;
};

// Escape goes to the dialog's "close" binding.
void pressEscape(GtkDialog* d) {
    guitest::pressKey(GTK_WIDGET(d), GDK_Escape);
}

class WizardTest : public guitest::GuiTest {
protected:
    void setUpWindows() override { wizard = std::make_unique<gtk::Wizard>(nullptr); }
    std::unique_ptr<gtk::Wizard> wizard;
};

TEST_F(WizardTest, BackNextEscapeAndCloseMapping) {
    const DialogScript::Step next = [](GtkDialog* d) {
        gtk_dialog_response(d, GTK_RESPONSE_ACCEPT);
    };
    const DialogScript::Step back = [](GtkDialog* d) {
        gtk_dialog_response(d, GTK_RESPONSE_REJECT);
    };
    const DialogScript::Step close = [](GtkDialog* d) { guitest::sendDelete(GTK_WIDGET(d)); };
    struct Case {
        std::vector<std::pair<const char*, DialogScript::Step>> steps;
        bool firstHasBack;
        bool result;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {{{"First", next}, {"Second", back}, {"First", next}, {"Second", next}},
         false,
         true,
         {"First:-3", "Second:-2", "First:-3", "Second:-3"}},
        {{{"First", back}}, true, false, {"First:-2"}},
        {{{"First", pressEscape}}, false, false, {"First:-2"}},
        {{{"First", next}, {"Second", pressEscape}, {"First", next}, {"Second", next}},
         false,
         true,
         {"First:-3", "Second:-2", "First:-3", "Second:-3"}},
        {{{"First", next}, {"Second", close}}, false, false, {"First:-3", "Second:-7"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        TestPage first(wizard.get(), "First", c.firstHasBack, log);
        TestPage second(wizard.get(), "Second", true, log);
        gtk::WizardPage* pages[] = {&first, &second};
        DialogScript script;
        for (const auto& step : c.steps)
            script.on(step.first, step.second);
        EXPECT_EQ(gtk::runWizardPages(2, pages), c.result);
        EXPECT_TRUE(script.done());
        EXPECT_EQ(log, c.log);
    }
}

class ListPage : public gtk::WizardPageWithTreeView {
public:
    explicit ListPage(gtk::Wizard* w) : WizardPageWithTreeView(w, "List", false) {
        GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_INT);
        for (int i = 0; i < 3; ++i)
            gtk_list_store_insert_with_values(store, nullptr, -1, 0, "row", 1, 10 + i, -1);
        gtk_tree_view_set_model(getTreeView().getView(), GTK_TREE_MODEL(store));
        g_object_unref(store);
        getTreeView().appendTextColumn("Name", 0);
    }
    int run() override {
        showTreePage("Choose.");
        const int response = WizardPageWithTreeView::run();
        hideTreePage();
        return response;
    }
};

TEST_F(WizardTest, ActivatingARowOfATreePageMeansNext) {
    ListPage page(wizard.get());
    gtk::UsesTreeView& tv = page.getTreeView();
    EXPECT_EQ(tv.getSelectedId(), -1);
    int idInside = -2;
    DialogScript script;
    script.on("List", [&](GtkDialog*) {
        GtkTreePath* path = gtk_tree_path_new_from_string("1");
        gtk_tree_view_set_cursor(tv.getView(), path, nullptr, FALSE);
        idInside = tv.getSelectedId();
        gtk_tree_view_row_activated(tv.getView(), path, gtk_tree_view_get_column(tv.getView(), 0));
        gtk_tree_path_free(path);
    });
    EXPECT_EQ(page.run(), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(idInside, 11);
    // Taken out of the page but kept, and shown again by the next run.
    EXPECT_EQ(gtk_widget_get_parent(tv.getWidget()), nullptr);
    script.on("List", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_ACCEPT); });
    EXPECT_EQ(page.run(), GTK_RESPONSE_ACCEPT);
}

} // namespace
