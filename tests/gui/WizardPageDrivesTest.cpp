#include "gui/WizardPageDrives.h"

#include "analysis/DriveDescr.h"
#include "core/Text.h"
#include "devices/Driver.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

using guitest::descrHas;
using guitest::descrValue;
using guitest::FakeSources;
using testutil::ScriptedMessages;

namespace {

class WizardPageDrivesTest : public guitest::GuiTest {
protected:
    void setUpWindows() override {
        context = std::make_unique<GuiContext>(&iface, &driveDescr, &sourceList, src.vfs.get());
        context->setSystemRoots(src.tree.roots());
        wizard = std::make_unique<gtk::Wizard>(nullptr);
    }
    void TearDown() override {
        page.reset();
        wizard.reset();
    }
    gtk::WizardPageDrives& makePage(int mode = gtk::WizardPageDrives::SOURCE,
                                    bool hasBack = false) {
        page = std::make_unique<gtk::WizardPageDrives>(wizard.get(), mode, context.get(),
                                                       &sourceList, src.vfs.get(), hasBack);
        return *page;
    }

    // Runs the page; each action answers one run of the wizard's loop.
    int run(const std::vector<std::function<void()>>& actions) {
        guitest::DialogScript script;
        for (const auto& action : actions)
            script.on(page->getTitle(), [action](GtkDialog*) { action(); });
        const int response = page->run();
        EXPECT_TRUE(script.done());
        return response;
    }

    // User actions.
    std::function<void()> select(const std::string& path) {
        return [this, path] { page->getTree().selectPath(path); };
    }
    std::function<void()> next() {
        return [this] { gtk_button_clicked(GTK_BUTTON(wizard->getNextButton())); };
    }
    std::function<void()> selectAndNext(const std::string& path) {
        return [this, path] {
            page->getTree().selectPath(path);
            gtk_button_clicked(GTK_BUTTON(wizard->getNextButton()));
        };
    }
    std::function<void()> close() {
        return [this] { guitest::sendDelete(GTK_WIDGET(wizard->getDialog())); };
    }
    bool nextSensitive() const { return gtk_widget_get_sensitive(wizard->getNextButton()); }
    Driver* driver() { return driveDescr.getDriveHolder().get(); }
    std::string prop(const char* key) { return driver()->getProperties().get(key, "?"); }
    std::string imageRow() const { return src.mount.path() + "|" + src.imagePath(); }

    FakeSources src;
    std::vector<std::string> sourceList;
    DriveDescr driveDescr;
    gtk::Interface iface{nullptr};
    std::unique_ptr<GuiContext> context;
    std::unique_ptr<gtk::Wizard> wizard;
    std::unique_ptr<gtk::WizardPageDrives> page;
};

TEST_F(WizardPageDrivesTest, AnImageFileBecomesADriverOf512ByteSectorsWithItsProperties) {
    makePage();
    EXPECT_EQ(run({selectAndNext(imageRow())}), GTK_RESPONSE_ACCEPT);
    ASSERT_NE(driver(), nullptr);
    EXPECT_EQ(driver()->getSectorSize(), 512u);
    EXPECT_EQ(driver()->getSectorCount(), 128u);
    EXPECT_EQ(prop(PROP_ID), src.imagePath());
    const std::string size = formatSize(64 * 1024);
    EXPECT_EQ(prop(PROP_DESCRIPTION), "disk.img " + size + " File");
    EXPECT_EQ(prop(PROP_DESCRIPTION_BIN), "disk.img " + size + " File");
    EXPECT_EQ(prop(PROP_ID_PATH), imageRow());
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 9), 0);
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_IS_FLOPPY, 9), 0);
    const std::string options = prop(PROP_OPTIONS);
    EXPECT_EQ(descrValue(options, "type"), "file");
    EXPECT_TRUE(descrHas(options, "ok"));

    std::vector<u8> sector(512);
    ASSERT_TRUE(driver()->readSectors(3, 1, sector.data()));
    const std::string file = testutil::readAll(src.imagePath());
    EXPECT_EQ(std::string(sector.begin(), sector.end()), file.substr(3 * 512, 512));
    // The source list is the fresh listing of the machine.
    std::vector<std::string> fresh;
    src.vfs->listChildren("", fresh);
    EXPECT_EQ(sourceList, fresh);
    EXPECT_STREQ(gtk_window_get_title(wizard->getWindow()), "Select Source");
    EXPECT_EQ(wizard->getHelpTopic(), "WizardPageSource");
}

TEST_F(WizardPageDrivesTest, DevicesGetTheirKindInTheProperties) {
    makePage();
    run({selectAndNext(src.dev("sda"))});
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 9), 1);
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_IS_FLOPPY, 9), 0);
    EXPECT_EQ(prop(PROP_DESCRIPTION_BIN),
              "DISK1-A7 " + formatSize(1 << 21) + " Drive (" + src.dev("sda") + ")");

    run({selectAndNext(src.dev("sda") + "|" + src.dev("sda1"))});
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 9), 0);
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_IS_FLOPPY, 9), 0);
    EXPECT_EQ(driver()->getSectorCount(), 2048u);

    run({selectAndNext(src.dev("fd0"))});
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_USES_PARTITION_TABLES, 9), 0);
    EXPECT_EQ(driver()->getProperties().getUInt8(PROP_IS_FLOPPY, 9), 1);
}

TEST_F(WizardPageDrivesTest, FoldersCannotBeChosen) {
    makePage();
    bool sensitive = true;
    EXPECT_EQ(run({[&] {
                       page->getTree().selectPath(src.mount.path());
                       sensitive = nextSensitive();
                       GtkTreePath* path = nullptr;
                       gtk_tree_view_get_cursor(page->getTree().getView(), &path, nullptr);
                       gtk_tree_view_row_activated(page->getTree().getView(), path, nullptr);
                       gtk_tree_path_free(path);
                   },
                   close()}),
              GTK_RESPONSE_CLOSE);
    EXPECT_FALSE(sensitive);
    EXPECT_EQ(driver(), nullptr);
    // The next page starts with Next enabled.
    EXPECT_TRUE(nextSensitive());
}

TEST_F(WizardPageDrivesTest, SameSourceKeepsTheScanAnotherResetsIt) {
    makePage();
    run({selectAndNext(imageRow())});
    driveDescr.setHasScan(true);
    driveDescr.getCarvedFiles().resize(2);
    Driver* first = driver();
    run({selectAndNext(imageRow())});
    EXPECT_NE(driver(), first); // a new driver object for the same source
    EXPECT_TRUE(driveDescr.hasScan());
    EXPECT_EQ(driveDescr.getCarvedFiles().size(), 2u);

    run({selectAndNext(src.dev("fd0"))});
    EXPECT_FALSE(driveDescr.hasScan());
    EXPECT_TRUE(driveDescr.getCarvedFiles().empty());
}

TEST_F(WizardPageDrivesTest, ASourceWithoutAReaderKeepsThePage) {
    sourceList.push_back("type=range|id=broken|components=" + src.mount.path() +
                         "/missing.img|rangeOffset=0|rangeSize=512|size=512|custom=");
    makePage();
    ScriptedMessages messages;
    EXPECT_EQ(run({selectAndNext("broken"), close()}), GTK_RESPONSE_CLOSE);
    EXPECT_EQ(driver(), nullptr);
    ASSERT_EQ(messages.asked().size(), 1u);
    EXPECT_EQ(messages.asked()[0].kind, MESSAGE_ERROR);
    EXPECT_NE(messages.asked()[0].text.find("Cannot initialize"), std::string::npos);
    // The software driver survived the fresh listing.
    EXPECT_EQ(descrValue(sourceList.back(), "id"), "broken");
}

} // namespace
