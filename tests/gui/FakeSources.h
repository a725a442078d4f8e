#pragma once

// A fake machine for the source-picking tests: a disk "sda" (model DISK1, serial
// A7) with one partition, a floppy, and the partition's file system "mounted"
// at a temporary folder that holds image files and a subfolder. The sources
// tree lists it through the real SystemSources pointed at the fake roots.

#include "core/Config.h"
#include "devices/SystemSources.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/TestUtil.h"

#include <gtk/gtk.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace guitest {

struct FakeSources {
    FakeSources() {
        tree.addDisk("sda", 1 << 21, "8:0", {{"device/model", "DISK1"}, {"device/serial", "A7"}});
        tree.addPartition("sda", "sda1", 1, 1 << 20, "8:1");
        tree.makeNode("fd0", 1474560);
        tree.setMountInfo("30 1 8:1 / " + mount.path() + " rw - vfat /dev/sda1 rw\n");
        std::string image(64 * 1024, '\0');
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 7 + i / 512);
        testutil::writeAll(imagePath(), image);
        std::filesystem::create_directory(folder());
        testutil::writeAll(folder() + "/inner.bin", "abc");
        vfs.reset(createSystemSources(tree.roots()));
    }

    std::string imagePath() const { return mount.path() + "/disk.img"; }
    std::string folder() const { return mount.path() + "/folder"; }
    std::string dev(const char* name) const { return tree.dev(name); }

    testutil::FakeSystemTree tree;
    testutil::TempDir mount;
    std::unique_ptr<DrivesVFS> vfs;
};

inline std::string descrValue(const std::string& descriptor, const char* key) {
    std::string out;
    getDescrValue(descriptor.c_str(), key, out);
    return out;
}

inline bool descrHas(const std::string& descriptor, const char* key) {
    std::string out;
    return getDescrValue(descriptor.c_str(), key, out);
}

// Column `column` (a string) of every row under `parent` (null: the top level).
inline std::vector<std::string> rowStrings(GtkTreeModel* model, GtkTreeIter* parent, int column) {
    std::vector<std::string> out;
    GtkTreeIter it;
    if (!gtk_tree_model_iter_children(model, &it, parent))
        return out;
    do {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &it, column, &text, -1);
        out.push_back(text ? text : "");
        g_free(text);
    } while (gtk_tree_model_iter_next(model, &it));
    return out;
}

} // namespace guitest
