#include "tests/gui/DialogScript.h"

#include "tests/gui/GuiTest.h"

#include <gtest/gtest-spi.h>

namespace {

using guitest::DialogScript;

class DialogScriptTest : public guitest::GuiTest {};

// Two dialogs run one after the other; the script answers the first only.
void runTwoDialogsWithOneStep() {
    DialogScript script;
    script.on("Asked", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_OK); });
    for (const char* title : {"Asked", "Never Answered"}) {
        GtkWidget* dialog = gtk_dialog_new_with_buttons(title, nullptr, GTK_DIALOG_MODAL,
                                                        GTK_STOCK_OK, GTK_RESPONSE_OK, nullptr);
        gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
    }
}

// A script that runs out while a modal loop still waits is a fault of the
// test: it fails within seconds, naming the loop, and the loop is ended so
// that the test goes on rather than hanging until the runner's timeout.
TEST_F(DialogScriptTest, AScriptThatRunsOutWhileADialogWaitsFailsWithinSeconds) {
    const gint64 start = g_get_monotonic_time();
    EXPECT_NONFATAL_FAILURE(runTwoDialogsWithOneStep(),
                            "the script ran out while the loop of \"Never Answered\" waits");
    EXPECT_LT(g_get_monotonic_time() - start, 10 * G_USEC_PER_SEC);
}

} // namespace
