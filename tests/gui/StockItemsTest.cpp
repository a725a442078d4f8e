#include "gui/StockItems.h"

#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TestUtil.h"

#include <string>

namespace {

class StockItemsTest : public guitest::GuiTest {
protected:
    void TearDown() override {
        if (IsSkipped())
            return;
        // Leave the items as the program has them, pictures included.
        appDir.useShipped();
        registerStockItems();
    }
    static std::string label(const char* id) {
        GtkStockItem item;
        if (!gtk_stock_lookup(id, &item))
            return "<missing>";
        return item.label ? item.label : "<none>";
    }

    guitest::ScopedAppDirectory appDir;
};

TEST_F(StockItemsTest, RegistersTheSevenItemsWithTheirIcons) {
    appDir.useShipped();
    registerStockItems();
    EXPECT_EQ(label("Next"), "_Next");
    EXPECT_EQ(label("Wizard"), "Wizard");
    EXPECT_EQ(label("Recover"), "_Recover");
    for (const char* id : {"Directory", "DirectoryChecked", "File", "FileChecked"})
        EXPECT_EQ(label(id), "<none>") << id;
    for (const char* id :
         {"Next", "Directory", "DirectoryChecked", "File", "FileChecked", "Wizard", "Recover"})
        EXPECT_NE(gtk_icon_factory_lookup_default(id), nullptr) << id;
    // Next borrows GTK's own forward arrow.
    EXPECT_EQ(gtk_icon_factory_lookup_default("Next"),
              gtk_icon_factory_lookup_default(GTK_STOCK_GO_FORWARD));

    GtkWidget* image =
        g_object_ref_sink(gtk_image_new_from_stock("FileChecked", GTK_ICON_SIZE_MENU));
    GdkPixbuf* rendered = gtk_widget_render_icon(image, "FileChecked", GTK_ICON_SIZE_MENU, nullptr);
    EXPECT_NE(rendered, nullptr);
    if (rendered)
        g_object_unref(rendered);
    g_object_unref(image);
}

TEST_F(StockItemsTest, MissingPicturesLeaveItemsWithoutIcons) {
    testutil::TempDir empty;
    appDir.use(empty.path());
    registerStockItems();
    EXPECT_EQ(label("File"), "<none>");
    EXPECT_EQ(gtk_icon_factory_lookup_default("File"), nullptr);
    EXPECT_NE(gtk_icon_factory_lookup_default("Recover"), nullptr);
}

TEST_F(StockItemsTest, RegisteringAgainReplacesTheIcons) {
    testutil::TempDir empty;
    appDir.use(empty.path());
    registerStockItems();
    ASSERT_EQ(gtk_icon_factory_lookup_default("Directory"), nullptr);
    appDir.useShipped();
    registerStockItems();
    EXPECT_NE(gtk_icon_factory_lookup_default("Directory"), nullptr);
    EXPECT_EQ(label("Next"), "_Next");
}

} // namespace
