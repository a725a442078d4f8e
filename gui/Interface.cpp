#include "gui/Interface.h"

#include "gui/ProgressBox.h"

namespace gtk {

namespace {
constexpr int PROGRESS_BOX_WIDTH = 600;
}

int Interface::message(bool question, const char* text, bool defaultNo, const char* checkLabel) {
    // The engines hand plain text (names from a disk, ids, exception texts):
    // it is escaped for the box, which reads markup.
    return messageFromInterface(question, text, defaultNo, checkLabel, parentWindow_);
}

void Interface::information(bool withOk, const char* text, bool defaultNo, const char* checkLabel) {
    messageDialog(withOk ? MESSAGE_INFO_OK : MESSAGE_INFO_CLOSE, text, parentWindow_, defaultNo,
                  checkLabel);
}

std::unique_ptr<ProgressBoxIC> Interface::createProgressBox(const char* title) {
    auto box = std::make_unique<ProgressBox>(parentWindow_, ProgressBox::MODE_TEXT, 0, 0,
                                             PROGRESS_BOX_WIDTH);
    box->setText(InterfaceCallback::TEXT_TITLE, title ? title : "");
    return box;
}

} // namespace gtk
