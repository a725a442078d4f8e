#pragma once

// The front end through which the analysis, the engines and the tree walkers
// talk to the user: message boxes and progress boxes over one parent window.
// The main window owns one; while a dialog such as the wizard is up, its window
// becomes the parent (InterfaceParentScope) so that everything asked meanwhile
// stands over that dialog.

#include "core/UserInterface.h"

#include <gtk/gtk.h>

namespace gtk {

class Interface : public FrTreeInterface {
public:
    explicit Interface(GtkWindow* parent) : parentWindow_(parent) {}

    GtkWindow* getParentWindow() const { return parentWindow_; }
    void setParentWindow(GtkWindow* parent) { parentWindow_ = parent; }

    // question false: an error box with Close, result 0 (defaultNo and
    // checkLabel are not used). question true: a question with No and Yes.
    // `text` is plain text and is shown as it stands.
    int message(bool question, const char* text, bool defaultNo, const char* checkLabel) override;
    // A progress box of mode 0 (text and a pulsing bar), 600 pixels wide, titled
    // `title`, over the parent window.
    std::unique_ptr<ProgressBoxIC> createProgressBox(const char* title) override;
    // An information box with OK (withOk) or Close. `text` is markup: the
    // caller escapes what is not its own.
    virtual void information(bool withOk, const char* text, bool defaultNo, const char* checkLabel);

private:
    GtkWindow* parentWindow_;
};

// Makes `window` the interface's parent window for its lifetime and puts the
// previous one back afterwards.
class InterfaceParentScope {
public:
    InterfaceParentScope(Interface* target, GtkWindow* window)
        : target_(target), saved_(target->getParentWindow()) {
        target_->setParentWindow(window);
    }
    ~InterfaceParentScope() { target_->setParentWindow(saved_); }
    InterfaceParentScope(const InterfaceParentScope&) = delete;
    InterfaceParentScope& operator=(const InterfaceParentScope&) = delete;

private:
    Interface* target_;
    GtkWindow* saved_;
};

} // namespace gtk
