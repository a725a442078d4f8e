#include "gui/Wizard.h"

#include "core/System.h"
#include "gui/WizardPage.h"
#include "gui/WizardPageWithTreeView.h"
#include "tests/gui/GuiTest.h"

#include <gdk/gdkkeysyms.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace {

using Action = std::function<void(gtk::Wizard&)>;

// Actions of the user, each run once the page's modal loop is up.
void clickNext(gtk::Wizard& w) {
    gtk_button_clicked(GTK_BUTTON(w.getNextButton()));
}
void clickBack(gtk::Wizard& w) {
    gtk_button_clicked(GTK_BUTTON(w.getBackButton()));
}
gboolean pressKey(GtkWidget* window, guint keyval) {
    GdkEvent* event = gdk_event_new(GDK_KEY_PRESS);
    event->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(window)));
    event->key.keyval = keyval;
    // Key bindings (Escape -> "close") go by the hardware key code.
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    if (gdk_keymap_get_entries_for_keyval(gdk_keymap_get_default(), keyval, &keys, &count) &&
        count > 0)
        event->key.hardware_keycode = static_cast<guint16>(keys[0].keycode);
    g_free(keys);
    gboolean handled = FALSE;
    g_signal_emit_by_name(window, "key-press-event", event, &handled);
    gdk_event_free(event);
    return handled;
}
void pressEscape(gtk::Wizard& w) {
    pressKey(GTK_WIDGET(w.getDialog()), GDK_Escape);
}
void closeWindow(gtk::Wizard& w) {
    guitest::sendDelete(GTK_WIDGET(w.getDialog()));
}

// Runs the next queued action from an idle callback inside the loop. A loop
// that an action failed to end is closed after a while, as a failure.
struct Script {
    std::deque<Action> actions;
    gtk::Wizard* wizard = nullptr;
    int scheduled = 0;
    int ended = 0;
    std::vector<guint> watchdogs;

    ~Script() {
        for (guint id : watchdogs)
            g_source_remove(id);
    }

    void schedule() {
        ++scheduled;
        g_idle_add(
            [](gpointer data) -> gboolean {
                Script* s = static_cast<Script*>(data);
                if (s->actions.empty()) {
                    ADD_FAILURE() << "no action left";
                    gtk_dialog_response(s->wizard->getDialog(), GTK_RESPONSE_CLOSE);
                    return FALSE;
                }
                Action a = s->actions.front();
                s->actions.pop_front();
                a(*s->wizard);
                return FALSE;
            },
            this);
        watchdogs.push_back(g_timeout_add(3000, &Script::watchdog, this));
    }
    // Called when the run the action belonged to has ended.
    void runEnded() {
        ++ended;
        if (!watchdogs.empty()) {
            g_source_remove(watchdogs.back());
            watchdogs.pop_back();
        }
    }
    static gboolean watchdog(gpointer data) {
        Script* s = static_cast<Script*>(data);
        s->watchdogs.pop_back();
        ADD_FAILURE() << "the action did not end the run";
        gtk_dialog_response(s->wizard->getDialog(), GTK_RESPONSE_CLOSE);
        return FALSE;
    }
};

class TestPage : public gtk::WizardPage {
public:
    TestPage(gtk::Wizard* w, const char* title, bool hasBack, Script& script,
             std::vector<std::string>& log)
        : WizardPage(w, title, hasBack), script_(script), log_(log) {}

    int run() override {
        showPage((std::string("Text of ") + getTitle()).c_str());
        gtk_box_pack_start(getWizard()->getPageBox(), gtk_label_new(getTitle()), TRUE, TRUE, 0);
        script_.schedule();
        const int response = getWizard()->run();
        script_.runEnded();
        log_.push_back(std::string(getTitle()) + ":" + std::to_string(response));
        finishPage();
        return response;
    }

private:
    Script& script_;
    std::vector<std::string>& log_;
};

class WizardTest : public guitest::GuiTest {
protected:
    bool runTwoPages(std::deque<Action> actions, bool firstHasBack = false) {
        script.actions = std::move(actions);
        script.wizard = &wizard();
        TestPage first(&wizard(), "First", firstHasBack, script, log);
        TestPage second(&wizard(), "Second", true, script, log);
        gtk::WizardPage* pages[] = {&first, &second};
        const bool result = gtk::runWizardPages(2, pages);
        EXPECT_TRUE(script.actions.empty());
        return result;
    }
    gtk::Wizard& wizard() {
        if (!wizard_)
            wizard_ = std::make_unique<gtk::Wizard>(nullptr);
        return *wizard_;
    }
    // The buttons in the order the button box lays them out, left to right
    // (the box's own list: get_children gives pack-end children reversed).
    static std::vector<GtkWidget*> actionButtons(gtk::Wizard& w) {
        std::vector<GtkWidget*> out;
        GtkBox* area = GTK_BOX(gtk_dialog_get_action_area(w.getDialog()));
        for (GList* c = area->children; c; c = c->next)
            out.push_back(static_cast<GtkBoxChild*>(c->data)->widget);
        return out;
    }

    Script script;
    std::vector<std::string> log;

private:
    std::unique_ptr<gtk::Wizard> wizard_;
};

TEST_F(WizardTest, NextAndBackWalkThePagesAndNextOnTheLastEndsTrue) {
    EXPECT_TRUE(runTwoPages({clickNext, clickBack, clickNext, clickNext}));
    EXPECT_EQ(log, (std::vector<std::string>{"First:-3", "Second:-2", "First:-3", "Second:-3"}));
}

TEST_F(WizardTest, BackOrEscapeOnTheFirstPageEndsWithFalse) {
    EXPECT_FALSE(runTwoPages({clickBack}, true));
    EXPECT_EQ(log, std::vector<std::string>{"First:-2"});
    log.clear();
    EXPECT_FALSE(runTwoPages({pressEscape}));
    EXPECT_EQ(log, std::vector<std::string>{"First:-2"});
}

TEST_F(WizardTest, EscapeOnTheSecondPageGoesBack) {
    EXPECT_TRUE(runTwoPages({clickNext, pressEscape, clickNext, clickNext}));
    EXPECT_EQ(log, (std::vector<std::string>{"First:-3", "Second:-2", "First:-3", "Second:-3"}));
}

TEST_F(WizardTest, ClosingTheWindowReportsCloseAndEndsWithFalse) {
    EXPECT_FALSE(runTwoPages({clickNext, closeWindow}));
    EXPECT_EQ(log, (std::vector<std::string>{"First:-3", "Second:-7"}));
    // The dialog survives its close button: the command destroys it.
    EXPECT_TRUE(GTK_IS_DIALOG(wizard().getDialog()));
}

TEST_F(WizardTest, ButtonsAreRebuiltOnlyWhenTheBackSettingChanges) {
    gtk::Wizard& w = wizard();
    EXPECT_TRUE(actionButtons(w).empty());
    w.setPage("A", "", true);
    GtkWidget* back = w.getBackButton();
    GtkWidget* next = w.getNextButton();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(actionButtons(w), (std::vector<GtkWidget*>{back, next}));
    w.setPage("B", "", true);
    EXPECT_EQ(w.getBackButton(), back);
    EXPECT_EQ(w.getNextButton(), next);

    w.setPage("C", "", false);
    EXPECT_EQ(w.getBackButton(), nullptr);
    ASSERT_EQ(actionButtons(w).size(), 1u);
    EXPECT_EQ(actionButtons(w)[0], w.getNextButton());

    w.setPage("D", "", true);
    std::vector<GtkWidget*> buttons = actionButtons(w);
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0], w.getBackButton()); // Back stands left of Next
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[0])), GTK_STOCK_GO_BACK);
    EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(buttons[1])), "Next");
}

TEST_F(WizardTest, F1OpensThePageTopicOnlyWhileItRuns) {
    std::vector<std::string> opened;
    SystemOpenLauncher previous = setSystemOpenLauncher([&](const OpenTarget& t, std::string&) {
        opened.push_back(t.localPath);
        return true;
    });
    gtk::Wizard& w = wizard();
    GtkWidget* window = GTK_WIDGET(w.getDialog());
    w.setPage("A", "", false);
    w.setHelpTopic("WizardPageSource");
    bool handledInside = false;
    script.wizard = &w;
    script.actions = {[&](gtk::Wizard& wz) {
        handledInside = pressKey(window, GDK_F1);
        clickNext(wz);
    }};
    script.schedule();
    EXPECT_EQ(w.run(), GTK_RESPONSE_ACCEPT);
    script.runEnded();
    EXPECT_TRUE(handledInside);
    EXPECT_FALSE(pressKey(window, GDK_F1));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_NE(opened[0].find("WizardPageSource.html"), std::string::npos);

    // Without a topic nothing is bound.
    w.setHelpTopic("");
    script.actions = {[&](gtk::Wizard& wz) {
        handledInside = pressKey(window, GDK_F1);
        clickNext(wz);
    }};
    script.schedule();
    w.run();
    script.runEnded();
    EXPECT_FALSE(handledInside);
    EXPECT_EQ(opened.size(), 1u);
    setSystemOpenLauncher(previous);
}

class ExtraButtonPage : public gtk::WizardPage {
public:
    ExtraButtonPage(gtk::Wizard* w, Script& script)
        : WizardPage(w, "Extra", true), script_(script) {}
    int run() override {
        showPage("");
        beginExtraButtons();
        button = addExtraButton("_Load Scan", 100);
        insideRow = gtk_widget_get_parent(gtk_dialog_get_action_area(getWizard()->getDialog()));
        script_.schedule();
        const int response = getWizard()->run();
        script_.runEnded();
        endExtraButtons();
        finishPage();
        return response;
    }
    GtkWidget* button = nullptr;
    GtkWidget* insideRow = nullptr;

private:
    Script& script_;
};

TEST_F(WizardTest, ExtraButtonsAnswerTheirCodeAndGoAwayAfterThePage) {
    gtk::Wizard& w = wizard();
    GtkWidget* content = gtk_dialog_get_content_area(w.getDialog());
    ExtraButtonPage page(&w, script);
    script.wizard = &w;
    script.actions = {[&](gtk::Wizard&) {
        // Same row as Back and Next, left of them.
        EXPECT_EQ(gtk_widget_get_parent(gtk_widget_get_parent(page.button)), page.insideRow);
        gtk_button_clicked(GTK_BUTTON(page.button));
    }};
    EXPECT_EQ(page.run(), 100);
    EXPECT_NE(page.insideRow, content);
    // The action area is back in the dialog; only Back and Next are left.
    EXPECT_EQ(gtk_widget_get_parent(gtk_dialog_get_action_area(w.getDialog())), content);
    EXPECT_EQ(guitest::findWidgets(GTK_WIDGET(w.getDialog()), GTK_TYPE_BUTTON).size(), 2u);
}

class ListPage : public gtk::WizardPageWithTreeView {
public:
    ListPage(gtk::Wizard* w, Script& script)
        : WizardPageWithTreeView(w, "List", false), script_(script) {
        GtkListStore* store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_INT);
        for (int i = 0; i < 3; ++i) {
            GtkTreeIter it;
            gtk_list_store_append(store, &it);
            const std::string name = "row" + std::to_string(i);
            gtk_list_store_set(store, &it, 0, name.c_str(), 1, 10 + i, -1);
        }
        gtk_tree_view_set_model(getTreeView().getView(), GTK_TREE_MODEL(store));
        g_object_unref(store);
        getTreeView().appendTextColumn("Name", 0);
    }
    int run() override {
        showTreePage("Choose.");
        script_.schedule();
        const int response = WizardPageWithTreeView::run();
        script_.runEnded();
        hideTreePage();
        return response;
    }

private:
    Script& script_;
};

TEST_F(WizardTest, ActivatingARowOfATreePageMeansNext) {
    gtk::Wizard& w = wizard();
    ListPage page(&w, script);
    gtk::UsesTreeView& tv = page.getTreeView();
    EXPECT_EQ(tv.getSelectedId(), -1);
    int idInside = -2;
    script.wizard = &w;
    script.actions = {[&](gtk::Wizard&) {
        GtkTreePath* path = gtk_tree_path_new_from_string("1");
        gtk_tree_view_set_cursor(tv.getView(), path, nullptr, FALSE);
        idInside = tv.getSelectedId();
        gtk_tree_view_row_activated(tv.getView(), path, gtk_tree_view_get_column(tv.getView(), 0));
        gtk_tree_path_free(path);
    }};
    EXPECT_EQ(page.run(), GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(idInside, 11);
    // Taken out of the page but kept for the next run.
    EXPECT_EQ(gtk_widget_get_parent(tv.getWidget()), nullptr);
    EXPECT_TRUE(GTK_IS_SCROLLED_WINDOW(tv.getWidget()));
    // A second run shows the same view again.
    script.actions = {clickNext};
    EXPECT_EQ(page.run(), GTK_RESPONSE_ACCEPT);
}

} // namespace
