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
const char* const RECOVER_INTO = "%1 already exists. Recover into it?\n\nFiles already there are "
                                 "kept; recovered files whose names are taken get new names.";

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

// Saving onto the source's media or over a file asks first, No the default
// and No back to the dialog; other sources (an image file has no partitions,
// the floppy is another device), new files and opening never ask. A
// destination folder that exists is recovered into, a file in its place is
// refused, as a folder in the place of a file saved is; each question names
// the path whole.
TEST_F(FileDialogTest, SavingOntoTheSourceMediaOrOverAFileAsksFirst) {
    const std::string image = "type=file|id=" + src.imagePath() + "|name=disk.img|ok=|";
    const struct {
        std::string source;
        const char* name;
        int mode;
        int kind; // of the question; -1 none
        std::string text;
    } cases[] = {
        {sdaSource(), "report.txt", FileDialog::SAVE, MESSAGE_WARNING, "source media"},
        {image, "report.txt", FileDialog::SAVE, -1, ""},
        {"type=floppy|id=" + src.dev("fd0") + "|partitions=fd0|ok=|", "report.txt",
         FileDialog::SAVE, -1, ""},
        {sdaSource(), "disk.img", FileDialog::OPEN, -1, ""},
        {image, "disk.img", FileDialog::SAVE, MESSAGE_QUESTION,
         formatMessage(OVERWRITE, src.imagePath())},
        {sdaSource(), "Recover-1", FileDialog::DESTINATION, MESSAGE_WARNING, "source media"},
        {image, "Recover-1", FileDialog::DESTINATION, -1, ""},
        {image, "folder", FileDialog::DESTINATION, MESSAGE_QUESTION,
         formatMessage(RECOVER_INTO, src.folder())},
        {image, "disk.img", FileDialog::DESTINATION, MESSAGE_ERROR,
         src.imagePath() + " is a file, not a folder"},
        {image, "folder", FileDialog::SAVE, MESSAGE_ERROR,
         src.folder() + " is a folder, not a file"},
    };
    for (const auto& c : cases) {
        openSource(c.source);
        ScriptedMessages messages;
        messages.then(1).then(0);
        auto d = open(c.name, c.mode);
        d->getTree().selectPath(src.mount.path());
        std::string name;
        const bool refused = c.kind == MESSAGE_ERROR;
        if (c.kind >= 0) {
            EXPECT_FALSE(d->accept(name)) << c.name; // No: back to the dialog
        }
        EXPECT_EQ(d->accept(name), !refused) << c.name;
        EXPECT_EQ(name, refused ? "" : c.name);
        ASSERT_EQ(messages.asked().size(), c.kind >= 0 ? 2u : 0u) << c.source << c.name;
        if (c.kind >= 0) {
            EXPECT_EQ(messages.asked()[0].kind, c.kind);
            EXPECT_EQ(messages.asked()[0].defaultNo, !refused);
            EXPECT_NE(messages.asked()[0].text.find(c.text), std::string::npos)
                << messages.asked()[0].text;
        }
    }
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

    // Btrfs by its source device.
    src.tree.setMountInfo("30 1 0:44 / " + src.mount.path() + " rw - btrfs /dev/sda1 rw\n");
    EXPECT_TRUE(onSource(disk("sda") + "|partitions=sda1"));
    EXPECT_FALSE(onSource("type=floppy|id=" + src.dev("fd0") + "|partitions=fd0"));
}

} // namespace
