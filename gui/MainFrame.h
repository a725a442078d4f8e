#pragma once

// The program's one top-level window and the owner of everything that lives for
// the whole run: the message interface, the analysis of the current source, the
// sources tree, the context handed to dialogs and, once the wizard has built a
// tree, the tree view. Every command runs under one guard that turns an
// exception into an error box, so the window survives whatever a command meets.
//
// Ending: Quit asks first (and warns of a scan that was not saved); SIGTERM and
// SIGINT close whatever dialog is up and end the main loop with 128 + the
// signal as the exit code; a fatal signal writes the stack trace and ends the
// process by that signal.

#include "analysis/Analyzer.h"
#include "core/PropertyMap.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "gui/TreeInterface.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class DrivesVFS;

class MainFrame {
public:
    using Command = void (MainFrame::*)();
    // Asks for a newer release: the window, "Update URL", "Program Name". True
    // when an installer was started and the program should end.
    using UpdateCheck = std::function<bool(GtkWindow*, const char*, const char*)>;

    // `sources` (owned) lists the sources; null means this machine's.
    explicit MainFrame(PropertyMap& config, DrivesVFS* sources = nullptr);
    ~MainFrame();
    MainFrame(const MainFrame&) = delete;
    MainFrame& operator=(const MainFrame&) = delete;

    void setUpdateCheck(UpdateCheck check) { updateCheck_ = std::move(check); }
    // A descriptor the crash path writes the stack trace to besides standard
    // error (the file log), or -1.
    void setCrashLogDescriptor(int fd) { crashLogFd_ = fd; }
    // The revision text that About shows.
    void setRevision(const std::string& revision) { revision_ = revision; }

    // Installs the crash handlers, runs the update check and the first wizard,
    // then the main loop; the exit code.
    int run();

    // The command guard: an exception becomes an error box and a log line.
    // With the preference "stack trace at exception" the exception is let
    // through to the terminate handler instead, with the stack of the throw.
    void runCommand(Command command);
    // The same guard around any callable.
    void guard(const std::function<void()>& action);

    void buildMenus();
    void updateSensitivity();
    void showTree();
    bool requireTree();

    // The commands; run them through runCommand.
    void wizard();
    void selectPartition();
    void preferences();
    void quit();
    void recover();
    void saveScan();
    void saveDebug();
    void findFile();
    void findNextFile();
    void selectByMask();
    void filterByStatus();
    void viewFile();
    void viewInformation();
    void viewList();
    void viewProperties();
    void viewAddressMap();
    void helpContents();
    void helpSupport();
    void about();

    // Ends the run as the termination signals do: dialogs are closed, the main
    // loop ends, and run returns `exitCode`.
    void endRun(int exitCode);

    GtkWindow* getWindow() const { return window_; }
    gtk::Interface& getInterface() { return interface_; }
    Analyzer& getAnalyzer() { return analyzer_; }
    GuiContext& getContext() { return context_; }
    TreeInterface* getTreeInterface() const { return treeInterface_.get(); }
    GtkContainer* getContent() const { return content_; }
    int getExitCode() const { return exitCode_; }
    bool isClosing() const { return closing_; }

    // The widgets whose sensitivity follows the state, in the order of the
    // sensitivity table: Select Partition, Save Scan, Save Debug, then the items
    // and buttons that need a tree.
    struct StateWidgets {
        GtkWidget* selectPartition;
        GtkWidget* saveScan;
        GtkWidget* saveDebug;
        std::vector<GtkWidget*> needTree;
    };
    StateWidgets stateWidgets() const;

private:
    struct MenuRow;
    void appendMenu(const char* title, const MenuRow* rows, std::size_t count);
    // Runs `action` on the shown tree, or shows the hint when there is none.
    void withTree(const std::function<void(TreeInterface&)>& action);
    static gboolean onDelete(GtkWidget*, GdkEvent*, gpointer self);
    // SIGTERM and SIGINT: endRun with 128 + the signal.
    template <int Signal> static gboolean onEndSignal(gpointer self);
    static gboolean closeDialogs(gpointer self);

    std::unique_ptr<TreeInterface> treeInterface_;
    PropertyMap* config_;
    GtkWindow* window_;
    GtkAccelGroup* accelGroup_ = nullptr;
    GtkWidget* menuBar_ = nullptr;
    GtkContainer* content_ = nullptr;
    // The big Wizard button of the empty window; null once a tree took its place.
    GtkWidget* startButton_ = nullptr;
    GtkToolItem* wizardButton_ = nullptr;
    GtkToolItem* recoverButton_ = nullptr;
    GtkToolItem* findButton_ = nullptr;
    GtkToolItem* viewFileButton_ = nullptr;
    GtkToolItem* helpButton_ = nullptr;
    GtkWidget* selectPartitionItem_ = nullptr;
    GtkWidget* recoverItem_ = nullptr;
    GtkWidget* saveScanItem_ = nullptr;
    GtkWidget* saveDebugItem_ = nullptr;
    GtkWidget* findFileItem_ = nullptr;
    GtkWidget* findNextItem_ = nullptr;
    GtkWidget* selectByMaskItem_ = nullptr;
    GtkWidget* filterItem_ = nullptr;
    GtkWidget* viewFileItem_ = nullptr;
    GtkWidget* informationItem_ = nullptr;
    GtkWidget* listItem_ = nullptr;
    GtkWidget* propertiesItem_ = nullptr;
    GtkWidget* addressMapItem_ = nullptr;
    gtk::Interface interface_;
    Analyzer analyzer_;
    std::unique_ptr<DrivesVFS> drives_;
    std::vector<std::string> sourceList_;
    GuiContext context_;
    int exitCode_ = 0;
    bool closing_ = false;
    UpdateCheck updateCheck_;
    int crashLogFd_ = -1;
    std::string revision_;
    guint termSource_ = 0;
    guint intSource_ = 0;
    guint closeTimer_ = 0;
};

// The crash path. Fatal signals (SEGV, ILL, FPE, BUS, ABRT) write the line
// "MainFrame(74): Stack trace: " with the return addresses, then one line per
// frame, to standard error and to `logFd` (when not -1), and end the process by
// the same signal. An exception that nobody catches writes the trace to the log,
// shows it in an error box, and aborts. Installed once per process.
void installCrashHandlers(int logFd);
