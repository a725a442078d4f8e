#include "gui/FileDialog.h"

#include "analysis/DriveDescr.h"
#include "core/Text.h"
#include "devices/DtReaderFile.h"
#include "gui/GuiContext.h"
#include "gui/Interface.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/ScriptedMessages.h"

#include <filesystem>

using guitest::DialogScript;
using guitest::FakeSources;
using testutil::ScriptedMessages;

namespace {

const char* const OVERWRITE = "%1 already exists.\n\nDo you want to overwrite?";

class FileDialogTest : public guitest::GuiTest {
protected:
    void setUpWindows() override {
        context = std::make_unique<GuiContext>(&iface, &driveDescr, &known, src.vfs.get());
        context->setSystemRoots(src.tree.roots());
    }
    std::unique_ptr<FileDialog> open(const std::string& name, int mode = FileDialog::SAVE) {
        return std::make_unique<FileDialog>(*context, name, mode, nullptr);
    }
    // The open source: a reader over the image file and the descriptor the
    // source page stores.
    void openSource(const std::string& options) {
        auto reader = std::make_unique<dt::ReaderFile>();
        ASSERT_TRUE(reader->open(src.imagePath().c_str()));
        auto* driver = new Driver(SharedPtr<dt::Reader>(reader.release()), 512);
        driver->getProperties().set(PROP_OPTIONS, options);
        driveDescr.setDrive(driver);
    }
    std::string sdaSource() const {
        return "type=drive|id=" + src.dev("sda") + "|size=2097152|partitions=sda1|ok=|";
    }

    FakeSources src;
    std::vector<std::string> known;
    DriveDescr driveDescr;
    gtk::Interface iface{nullptr};
    std::unique_ptr<GuiContext> context;
};

TEST_F(FileDialogTest, SavingOntoTheSourceMediaAsksFirst) {
    openSource(sdaSource());
    ScriptedMessages messages;
    messages.then(1).then(0);
    auto d = open("report.txt");
    d->getTree().selectPath(src.mount.path());
    gtk_widget_show_all(GTK_WIDGET(d->getDialog()));
    std::string name;
    EXPECT_FALSE(d->accept(name)); // No: back to the dialog
    EXPECT_TRUE(d->accept(name));  // Yes
    EXPECT_EQ(name, "report.txt");
    ASSERT_EQ(messages.asked().size(), 2u);
    EXPECT_EQ(messages.asked()[0].kind, MESSAGE_WARNING);
    EXPECT_TRUE(messages.asked()[0].defaultNo);
    EXPECT_NE(messages.asked()[0].text.find("source media"), std::string::npos);
}

TEST_F(FileDialogTest, OtherSourcesAndOpeningNeverAsk) {
    ScriptedMessages messages;
    std::string name;
    // An image file source has no partitions.
    openSource("type=file|id=" + src.imagePath() + "|name=disk.img|ok=|");
    auto d = open("report.txt");
    d->getTree().selectPath(src.mount.path());
    EXPECT_TRUE(d->accept(name));
    // The floppy is another device.
    openSource("type=floppy|id=" + src.dev("fd0") + "|partitions=fd0|ok=|");
    EXPECT_TRUE(d->accept(name));
    // Opening writes nothing: neither the warning nor the overwrite question.
    openSource(sdaSource());
    auto o = open("disk.img", FileDialog::OPEN);
    o->getTree().selectPath(src.mount.path());
    EXPECT_TRUE(o->accept(name));
    EXPECT_TRUE(messages.asked().empty());
}

TEST_F(FileDialogTest, AnExistingFileIsOverwrittenOnlyOnYes) {
    ScriptedMessages messages;
    messages.then(1).then(0);
    auto d = open("disk.img");
    d->getTree().selectPath(src.mount.path());
    std::string name;
    EXPECT_FALSE(d->accept(name));
    EXPECT_TRUE(d->accept(name));
    ASSERT_EQ(messages.asked().size(), 2u);
    EXPECT_EQ(messages.asked()[0].kind, MESSAGE_QUESTION);
    EXPECT_TRUE(messages.asked()[0].defaultNo);
    EXPECT_EQ(messages.asked()[0].text, formatMessage(OVERWRITE, "disk.img"));
}

TEST_F(FileDialogTest, ATypedFolderPartIsPartOfTheDestination) {
    auto d = open("folder/new.bin");
    d->getTree().selectPath(src.mount.path());
    std::string name;
    ASSERT_TRUE(d->accept(name));
    EXPECT_EQ(name, "new.bin");
    EXPECT_EQ(context->makePath(name.c_str()), src.folder() + "/new.bin");

    // "../" leads onto the source's media: the warning applies there too.
    openSource(sdaSource());
    ScriptedMessages messages;
    auto outside = open("../x.bin");
    outside->getTree().selectPath(src.mount.path() + "|" + src.folder());
    EXPECT_FALSE(outside->accept(name));
    EXPECT_EQ(messages.asked().size(), 1u);
    gtk_entry_set_text(outside->getEntry(), "sub/");
    EXPECT_FALSE(outside->accept(name)); // no file name left
}

class FolderOnSourceTest : public guitest::GuiTest {
protected:
    std::string disk(const char* name) const { return "type=drive|id=" + src.dev(name); }
    bool onSource(const std::string& descriptor) const {
        return folderLiesOnSource(descriptor, src.folder(), src.tree.roots());
    }
    FakeSources src;
};

TEST_F(FolderOnSourceTest, ByPartitionWholeDeviceOrADeviceBelow) {
    EXPECT_TRUE(onSource(disk("sda") + "|partitions=sda1"));
    EXPECT_TRUE(onSource("type=partition|id=" + src.dev("sda1") + "|partitions=sda1"));
    EXPECT_FALSE(onSource("type=floppy|id=" + src.dev("fd0") + "|partitions=fd0"));
    EXPECT_FALSE(onSource("type=file|id=" + src.imagePath()));
    EXPECT_FALSE(onSource("type=range|id=r|components=" + src.dev("sda")));

    // A file system on the whole disk, without partitions.
    src.tree.setMountInfo("30 1 8:0 / " + src.mount.path() + " rw - ext4 /dev/sda rw\n");
    EXPECT_TRUE(onSource(disk("sda")));

    // A mapped device (encryption, LVM) over the source's partition.
    src.tree.addDisk("dm-0", 1 << 20, "254:0");
    src.tree.write("sys/block/dm-0/slaves/sda1/dev", "8:1\n");
    src.tree.setMountInfo("30 1 254:0 / " + src.mount.path() + " rw - ext4 /dev/dm-0 rw\n");
    EXPECT_TRUE(onSource(disk("sda") + "|partitions=sda1"));

    // Not on a block device at all.
    src.tree.setMountInfo("30 1 0:40 / " + src.mount.path() + " rw - tmpfs tmpfs rw\n");
    EXPECT_FALSE(onSource(disk("sda") + "|partitions=sda1"));
}

TEST_F(FolderOnSourceTest, BtrfsIsFoundByItsSourceDevice) {
    src.tree.setMountInfo("30 1 0:44 / " + src.mount.path() + " rw - btrfs /dev/sda1 rw\n");
    EXPECT_TRUE(onSource(disk("sda") + "|partitions=sda1"));
    EXPECT_FALSE(onSource("type=floppy|id=" + src.dev("fd0") + "|partitions=fd0"));
}

} // namespace
