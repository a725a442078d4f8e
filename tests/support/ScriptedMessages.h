#pragma once

// Test doubles for the user's answers. ScriptedMessages stands in for every
// message box of the program while it lives; ScriptedInterface is an
// FrTreeInterface for workers that are handed one. Both record each box they
// are shown and answer from a queue.

#include "core/UserInterface.h"
#include "tests/support/RecordingProgress.h"

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

struct AskedBox {
    int kind; // MessageKind; an FrTreeInterface question is 1, its error box 0
    std::string text;
    bool defaultNo;
    std::string checkLabel; // empty when no check box was offered
    bool checked;           // the check box started ticked
};

// Answers as the real box can: Yes/No boxes (question, warning) take the next
// queued answer, or the default when the queue is empty; error and information
// boxes answer 0, or 0x10 when their check box is ticked (as it started, unless
// tickInfoChecks or untickInfoChecks says otherwise), and take nothing from the
// queue. 0x10 (check box ticked) is kept only when a check box was offered.
class AnswerScript {
public:
    explicit AnswerScript(int defaultAnswer = 1) : defaultAnswer_(defaultAnswer) {}

    // Queues answers: 0 Yes, 1 No, plus 0x10 for a ticked check box.
    AnswerScript& then(int answer) {
        queue_.push_back(answer);
        return *this;
    }
    // The check boxes of error and information boxes ticked, or unticked, from
    // now on.
    void tickInfoChecks() { infoChecks_ = 1; }
    void untickInfoChecks() { infoChecks_ = 0; }

    const std::vector<AskedBox>& asked() const { return asked_; }

    // Records the box and gives its answer.
    int answer(int kind, const std::string& text, bool defaultNo, const char* checkLabel,
               bool checked = false);

private:
    int defaultAnswer_;
    // -1: as the box starts; 0 unticked, 1 ticked.
    int infoChecks_ = -1;
    std::deque<int> queue_;
    std::vector<AskedBox> asked_;
};

// Installs itself as the messageDialog handler; the destructor puts the previous
// handler back.
class ScriptedMessages : public AnswerScript {
public:
    explicit ScriptedMessages(int defaultAnswer = 1);
    ~ScriptedMessages();
    ScriptedMessages(const ScriptedMessages&) = delete;
    ScriptedMessages& operator=(const ScriptedMessages&) = delete;

private:
    MessageDialogHandler previous_;
};

// An FrTreeInterface whose progress boxes are RecordingProgress boxes; their
// records stay here after the worker has dropped the boxes.
class ScriptedInterface : public FrTreeInterface, public AnswerScript {
public:
    explicit ScriptedInterface(int defaultAnswer = 1) : AnswerScript(defaultAnswer) {}

    int message(bool question, const char* text, bool defaultNo, const char* checkLabel) override;
    // The box's title is its first text, of kind TEXT_TITLE.
    std::unique_ptr<ProgressBoxIC> createProgressBox(const char* title) override;

    // Boxes created from now on cancel at their n-th poll (0: never).
    void cancelBoxesAtPoll(u64 n) { cancelAtPoll_ = n; }
    const std::vector<std::shared_ptr<RecordingProgress::Record>>& boxes() const { return boxes_; }

private:
    u64 cancelAtPoll_ = 0;
    std::vector<std::shared_ptr<RecordingProgress::Record>> boxes_;
};

} // namespace testutil
