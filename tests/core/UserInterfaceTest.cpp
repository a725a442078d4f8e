#include "core/UserInterface.h"

#include "tests/support/ScriptedMessages.h"
#include "tests/support/TestUtil.h"

#include <gtest/gtest.h>

namespace {

// Without windows nobody can be asked: boxes go to standard error and the log,
// and a question gets the configured answer, No unless told otherwise.
TEST(UserInterfaceTest, HeadlessBoxesAreWrittenAndAnswered) {
    testutil::LogCapture log;
    testing::internal::CaptureStderr();
    EXPECT_EQ(messageDialog(MESSAGE_ERROR, "Disk <b>gone</b>", nullptr, true, "_Tick"), 0);
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "Go on?", nullptr, false, nullptr), 1);
    setHeadlessAnswer(0x11);
    EXPECT_EQ(messageDialog(MESSAGE_WARNING, "Sure?", nullptr, true, "Yes To _All"), 0x11);
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "Again?", nullptr, true, nullptr),
              1); // no box to tick
    EXPECT_EQ(messageDialog(MESSAGE_INFO_OK, "Done", nullptr, false, "x"), 0);
    // nobody unticks a box that starts ticked
    EXPECT_EQ(messageDialog(MESSAGE_INFO_OK, "Report?", nullptr, false, "_View", true), 0x10);
    setHeadlessAnswer(1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Disk <b>gone</b>\nQuestion: Go on?\n"
              "Warning: Sure?\nQuestion: Again?\nInformation: Done\nInformation: Report?\n");
    EXPECT_TRUE(log.has("UserInterface(41): 1 Go on? 1\n")) << log.text();
}

// What an interface is told is plain text; on its way to the box, which reads
// markup, it is escaped, so that a name planted on a disk shows as it stands.
TEST(UserInterfaceTest, InterfaceMessagesReachTheBoxEscaped) {
    testutil::ScriptedMessages boxes;
    boxes.then(0x10);
    HeadlessInterface ui;
    EXPECT_EQ(ui.message(true, "Continue <a href='x'>?", true, "_Don't ask me again"), 0x10);
    EXPECT_EQ(ui.message(false, "Cannot read a&b", true, "label"), 0);
    ASSERT_EQ(boxes.asked().size(), 2u);
    EXPECT_EQ(boxes.asked()[0].kind, MESSAGE_QUESTION);
    EXPECT_EQ(boxes.asked()[0].text, "Continue &lt;a href=&apos;x&apos;&gt;?");
    EXPECT_EQ(boxes.asked()[0].checkLabel, "_Don't ask me again");
    EXPECT_EQ(boxes.asked()[1].kind, MESSAGE_ERROR);
    EXPECT_EQ(boxes.asked()[1].text, "Cannot read a&amp;b");
    EXPECT_EQ(boxes.asked()[1].checkLabel, ""); // an error box offers none
}

TEST(UserInterfaceTest, AHandlerMayReplaceItselfWhileAsked) {
    MessageDialogHandler previous;
    previous = setMessageDialogHandler(
        [&](int, const std::string&, WindowHandle, bool, const char*, bool) {
            setMessageDialogHandler(previous); // destroys this very handler
            return 0x10;
        });
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "x", nullptr, false, "c"), 0x10);
}

} // namespace
