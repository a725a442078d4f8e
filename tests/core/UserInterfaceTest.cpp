#include "core/UserInterface.h"

#include "core/Log.h"
#include "tests/support/RecordingProgress.h"
#include "tests/support/ScriptedMessages.h"

#include <gtest/gtest.h>

using testutil::RecordingProgress;
using testutil::ScriptedInterface;
using testutil::ScriptedMessages;

namespace {

// Restores the headless answer whatever a test set.
struct HeadlessAnswerGuard {
    ~HeadlessAnswerGuard() { setHeadlessAnswer(1); }
};

} // namespace

TEST(UserInterface, HeadlessBoxesGoToStandardErrorAndTheLog) {
    HeadlessAnswerGuard guard;
    testing::internal::CaptureStderr();
    int error = messageDialog(MESSAGE_ERROR, "Disk <b>gone</b>", nullptr, true, "_Tick");
    int question = messageDialog(MESSAGE_QUESTION, "Go on?", nullptr, false, nullptr);
    int info = messageDialog(MESSAGE_INFO_OK, "Done", nullptr, false, nullptr);
    int unknown = messageDialog(9, nullptr, nullptr, false, nullptr);
    std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(error, 0);
    EXPECT_EQ(question, 1); // nobody to ask: No
    EXPECT_EQ(info, 0);
    EXPECT_EQ(unknown, 0);
    EXPECT_EQ(err, "Error: Disk <b>gone</b>\nQuestion: Go on?\nInformation: Done\nError: \n");
    EXPECT_NE(logMemoryText().find("): 1 Go on? 1\n"), std::string::npos);
}

TEST(UserInterface, HeadlessAnswerIsConfigurable) {
    HeadlessAnswerGuard guard;
    testing::internal::CaptureStderr();
    setHeadlessAnswer(0);
    EXPECT_EQ(messageDialog(MESSAGE_WARNING, "Sure?", nullptr, true, nullptr), 0);
    setHeadlessAnswer(0x11);
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "Again?", nullptr, true, "Yes To _All"), 0x11);
    // Without a check box there is no box to tick.
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "Again?", nullptr, true, nullptr), 1);
    EXPECT_EQ(messageDialog(MESSAGE_INFO_CLOSE, "Info", nullptr, true, "x"), 0);
    testing::internal::GetCapturedStderr();
}

TEST(UserInterface, HeadlessInterfaceGoesThroughMessageDialog) {
    ScriptedMessages script;
    script.then(0x10).then(0);
    HeadlessInterface ui;
    EXPECT_EQ(ui.message(true, "Continue?", true, "_Don't ask me again"), 0x10);
    // An error box ignores defaultNo and the check label, and answers 0.
    EXPECT_EQ(ui.message(false, "Broken", true, "label"), 0);
    ASSERT_EQ(script.asked().size(), 2u);
    EXPECT_EQ(script.asked()[0].kind, MESSAGE_QUESTION);
    EXPECT_TRUE(script.asked()[0].defaultNo);
    EXPECT_EQ(script.asked()[0].checkLabel, "_Don't ask me again");
    EXPECT_EQ(script.asked()[1].kind, MESSAGE_ERROR);
    EXPECT_EQ(script.asked()[1].text, "Broken");
    EXPECT_FALSE(script.asked()[1].defaultNo);
    EXPECT_EQ(script.asked()[1].checkLabel, "");
    EXPECT_EQ(script.pendingAnswers(), 1u); // the error box took no answer

    std::unique_ptr<ProgressBoxIC> box = ui.createProgressBox("Building Tree");
    ASSERT_TRUE(box);
    for (int i = 0; i < 100; ++i)
        box->poll(); // never cancels
}

TEST(UserInterface, ScriptedMessagesNestAndRestore) {
    HeadlessAnswerGuard guard;
    {
        ScriptedMessages outer(0);
        {
            ScriptedMessages inner;
            inner.then(0);
            EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "a", nullptr, false, nullptr), 0);
            EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "b", nullptr, false, nullptr), 1);
            EXPECT_EQ(inner.asked().size(), 2u);
        }
        EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "c", nullptr, false, nullptr), 0);
        ASSERT_EQ(outer.asked().size(), 1u);
        EXPECT_EQ(outer.asked()[0].text, "c");
    }
    // The headless handler is back.
    testing::internal::CaptureStderr();
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "d", nullptr, false, nullptr), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Question: d\n");
}

TEST(UserInterface, HandlerMayReplaceItselfWhileAsked) {
    MessageDialogHandler previous;
    previous = setMessageDialogHandler([&](int, const std::string&, WindowHandle, bool, const char*) {
        setMessageDialogHandler(previous); // destroys this very handler
        return 0x10;
    });
    EXPECT_EQ(messageDialog(MESSAGE_QUESTION, "x", nullptr, false, "c"), 0x10);
}

TEST(UserInterface, ScriptedInterfaceRecordsBoxesBeyondTheirLife) {
    ScriptedInterface ui;
    ui.then(0);
    EXPECT_EQ(ui.message(true, "Yes?", false, nullptr), 0);
    EXPECT_EQ(ui.message(true, "No by default", false, nullptr), 1);

    ui.cancelBoxesAtPoll(3);
    {
        std::unique_ptr<ProgressBoxIC> box = ui.createProgressBox("Recover");
        box->setText(InterfaceCallback::TEXT_MAIN, "file.txt");
        box->setPosition(InterfaceCallback::POSITION_SET, 10);
        box->setPosition(InterfaceCallback::POSITION_ADD, 5);
        box->poll();
        box->poll();
        EXPECT_THROW(box->poll(), InterruptedException);
    }
    ASSERT_EQ(ui.boxes().size(), 1u);
    const RecordingProgress::Record& r = *ui.boxes()[0];
    EXPECT_EQ(r.lastText(InterfaceCallback::TEXT_TITLE), "Recover");
    EXPECT_EQ(r.lastText(InterfaceCallback::TEXT_MAIN), "file.txt");
    EXPECT_EQ(r.lastText(InterfaceCallback::TEXT_SECOND), "");
    EXPECT_EQ(r.position(), 15u);
    EXPECT_EQ(r.polls, 3u);
    EXPECT_TRUE(r.cancelled);
}

TEST(RecordingProgress, CancelsFromTheChosenPollOn) {
    RecordingProgress box;
    std::shared_ptr<RecordingProgress::Record> record = box.record();
    box.cancelAtPoll(2);
    EXPECT_NO_THROW(box.poll());
    EXPECT_THROW(box.poll(), InterruptedException);
    EXPECT_THROW(box.poll(), InterruptedException); // the button stays pressed
    EXPECT_EQ(record->polls, 3u);

    box.setPosition(InterfaceCallback::FOUND_FATS, 4);
    box.setPosition(InterfaceCallback::POSITION_ADD, 7);
    box.setPosition(InterfaceCallback::FOUND_FATS, 5);
    EXPECT_EQ(record->lastValue(InterfaceCallback::FOUND_FATS), 5u);
    EXPECT_EQ(record->lastValue(InterfaceCallback::FOUND_CBR_FILES), 0u);
    EXPECT_EQ(record->position(), 7u);
    ASSERT_EQ(record->positions.size(), 3u);
}

TEST(RecordingProgress, WorksAsAWorkersCallback) {
    UsesInterfaceCallback worker;
    RecordingProgress box;
    {
        InterfaceCallbackScope scope(worker, &box);
        worker.setText(InterfaceCallback::TEXT_MAIN, "Scanning");
        worker.poll();
    }
    worker.poll(); // no sink any more
    EXPECT_EQ(box.record()->polls, 1u);
    EXPECT_EQ(box.record()->texts.size(), 1u);
}
