#pragma once

// How code that knows nothing of windows asks the user a question, reports an
// error or gets a progress box. The implementations that show windows come with
// the window layer; until one is installed a headless handler answers (see
// HeadlessInterface). Below the window layer a parent window is an opaque
// handle, passed on untouched.

#include "core/Progress.h"

#include <functional>
#include <memory>
#include <string>

// The window a box stands over; null for none. Only the window layer knows
// what it points to.
using WindowHandle = void*;

class FrTreeInterface {
public:
    // question false: an error box with Close, result 0. question true: No and
    // Yes (No preselected with defaultNo); 0 for Yes, 1 otherwise. With a check
    // label a check button is offered and 0x10 is added when it was ticked.
    // `text` is plain text, shown as it stands: whoever shows it as markup
    // escapes it first.
    virtual int message(bool question, const char* text, bool defaultNo,
                        const char* checkLabel) = 0;
    // A progress box titled `title`, owned by the caller.
    virtual std::unique_ptr<ProgressBoxIC> createProgressBox(const char* title) = 0;
    virtual ~FrTreeInterface() = default;
};

// Message kinds of messageDialog.
enum MessageKind : int {
    MESSAGE_ERROR = 0,
    MESSAGE_QUESTION = 1,
    MESSAGE_WARNING = 2,
    MESSAGE_INFO_CLOSE = 3,
    MESSAGE_INFO_OK = 4,
};

// The program's one modal message box. `text` is Pango markup. Result: 1 when a
// Yes/No box (kinds 1 and 2) was answered with anything but Yes, else 0; plus
// 0x10 when the check box exists and is ticked. With `checked` the check box
// starts ticked.
int messageDialog(int kind, const char* text, WindowHandle parent, bool defaultNo,
                  const char* checkLabel, bool checked = false);

// FrTreeInterface::message as a messageDialog box over `parent`: the plain text
// escaped for markup, question or error box as message() describes.
int messageFromInterface(bool question, const char* text, bool defaultNo, const char* checkLabel,
                         WindowHandle parent);

// Whoever shows message boxes installs the handler that messageDialog calls; the
// window layer installs its own, tests install scripted ones.
using MessageDialogHandler =
    std::function<int(int kind, const std::string& text, WindowHandle parent, bool defaultNo,
                      const char* checkLabel, bool checked)>;
// Installs `handler` (empty restores the headless one); returns the previous one.
MessageDialogHandler setMessageDialogHandler(MessageDialogHandler handler);

// The headless handler writes the box to standard error and the debug log and
// answers Yes/No boxes with `answer` (default 1: No, the answer that never goes
// on with something the user was not asked about).
void setHeadlessAnswer(int answer);

// An FrTreeInterface without windows: messages go through messageDialog (so
// that an installed handler sees them), progress boxes report nothing and never
// cancel.
class HeadlessInterface : public FrTreeInterface {
public:
    int message(bool question, const char* text, bool defaultNo, const char* checkLabel) override;
    std::unique_ptr<ProgressBoxIC> createProgressBox(const char* title) override;
};
