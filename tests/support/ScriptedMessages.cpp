#include "tests/support/ScriptedMessages.h"

namespace testutil {

int AnswerScript::answer(int kind, const std::string& text, bool defaultNo, const char* checkLabel,
                         bool checked) {
    asked_.push_back({kind, text, defaultNo, checkLabel ? checkLabel : "", checked});
    if (kind != MESSAGE_QUESTION && kind != MESSAGE_WARNING) {
        const bool ticked = infoChecks_ < 0 ? checked : infoChecks_ == 1;
        return checkLabel && ticked ? 0x10 : 0;
    }
    int result = defaultAnswer_;
    if (!queue_.empty()) {
        result = queue_.front();
        queue_.pop_front();
    }
    return checkLabel ? result : result & ~0x10;
}

ScriptedMessages::ScriptedMessages(int defaultAnswer) : AnswerScript(defaultAnswer) {
    previous_ =
        setMessageDialogHandler([this](int kind, const std::string& text, WindowHandle,
                                       bool defaultNo, const char* checkLabel, bool checked) {
            return answer(kind, text, defaultNo, checkLabel, checked);
        });
}

ScriptedMessages::~ScriptedMessages() {
    setMessageDialogHandler(std::move(previous_));
}

int ScriptedInterface::message(bool question, const char* text, bool defaultNo,
                               const char* checkLabel) {
    if (question)
        return answer(MESSAGE_QUESTION, text ? text : "", defaultNo, checkLabel);
    return answer(MESSAGE_ERROR, text ? text : "", false, nullptr);
}

std::unique_ptr<ProgressBoxIC> ScriptedInterface::createProgressBox(const char* title) {
    auto box = std::make_unique<RecordingProgress>();
    box->cancelAtPoll(cancelAtPoll_);
    box->setText(InterfaceCallback::TEXT_TITLE, title ? title : "");
    boxes_.push_back(box->record());
    return box;
}

} // namespace testutil
