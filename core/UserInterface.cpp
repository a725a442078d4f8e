#include "core/UserInterface.h"

#include "core/Intl.h"
#include "core/Log.h"
#include "core/Text.h"

#include <iostream>

namespace {

int headlessAnswer = 1;

bool isYesNoKind(int kind) {
    return kind == MESSAGE_QUESTION || kind == MESSAGE_WARNING;
}

const char* kindTitle(int kind) {
    switch (kind) {
    case MESSAGE_QUESTION:
        return _("Question");
    case MESSAGE_WARNING:
        return _("Warning");
    case MESSAGE_INFO_CLOSE:
    case MESSAGE_INFO_OK:
        return _("Information");
    default:
        return _("Error");
    }
}

// Without windows nobody can be asked: the box is written where a person or a
// script sees it, and questions get the configured answer.
int headlessMessage(int kind, const std::string& text, WindowHandle parent, bool defaultNo,
                    const char* checkLabel, bool checked) {
    (void)parent;
    (void)defaultNo;
    std::cerr << kindTitle(kind) << ": " << text << '\n';
    int result = isYesNoKind(kind) ? headlessAnswer : 0;
    // Nobody unticks a check box that starts ticked.
    if (checked && !isYesNoKind(kind))
        result |= 0x10;
    // The check-box bit only exists where a check box was offered.
    if (!checkLabel)
        result &= ~0x10;
    logAt("UserInterface", 41) << ": " << kind << ' ' << text << ' ' << result << '\n';
    return result;
}

MessageDialogHandler& currentHandler() {
    static MessageDialogHandler handler;
    return handler;
}

} // namespace

int messageDialog(int kind, const char* text, WindowHandle parent, bool defaultNo,
                  const char* checkLabel, bool checked) {
    std::string message = text ? text : "";
    // A copy: a handler may replace itself while its box is up.
    MessageDialogHandler handler = currentHandler();
    if (handler)
        return handler(kind, message, parent, defaultNo, checkLabel, checked);
    return headlessMessage(kind, message, parent, defaultNo, checkLabel, checked);
}

MessageDialogHandler setMessageDialogHandler(MessageDialogHandler handler) {
    MessageDialogHandler previous = std::move(currentHandler());
    currentHandler() = std::move(handler);
    return previous;
}

void setHeadlessAnswer(int answer) {
    headlessAnswer = answer;
}

int messageFromInterface(bool question, const char* text, bool defaultNo, const char* checkLabel,
                         WindowHandle parent) {
    const std::string shown = escapeMarkup(text ? text : "");
    if (question)
        return messageDialog(MESSAGE_QUESTION, shown.c_str(), parent, defaultNo, checkLabel);
    return messageDialog(MESSAGE_ERROR, shown.c_str(), parent, false, nullptr);
}

int HeadlessInterface::message(bool question, const char* text, bool defaultNo,
                               const char* checkLabel) {
    return messageFromInterface(question, text, defaultNo, checkLabel, nullptr);
}

std::unique_ptr<ProgressBoxIC> HeadlessInterface::createProgressBox(const char* title) {
    (void)title;
    return std::make_unique<ProgressBoxIC>();
}
