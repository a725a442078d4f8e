#include "gui/TreeViewPanels.h"

#include "core/Progress.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

#include <stdexcept>

namespace {

class TreeViewPanelsTest : public guitest::GuiTest {};

TEST_F(TreeViewPanelsTest, GuardKeepsFailuresOutOfGtk) {
    testutil::ScriptedMessages messages;
    gtk::guardCallback("test", [] { throw InterruptedException(); });
    EXPECT_TRUE(messages.asked().empty());
    gtk::guardCallback("test", [] { throw std::runtime_error("Map(<12>)"); });
    ASSERT_EQ(1u, messages.asked().size());
    EXPECT_EQ(MESSAGE_ERROR, messages.asked()[0].kind);
    EXPECT_EQ("Exception: Map(&lt;12&gt;)", messages.asked()[0].text);
    gtk::guardCallback("test", [] { throw 42; });
    ASSERT_EQ(2u, messages.asked().size());
    EXPECT_EQ("Unknown exception", messages.asked()[1].text);
    bool ran = false;
    gtk::guardCallback("test", [&ran] { ran = true; });
    EXPECT_TRUE(ran);
}

} // namespace
