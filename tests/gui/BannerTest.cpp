#include "gui/Banner.h"

#include "tests/gui/GuiTest.h"
#include "tests/support/TestUtil.h"

using testutil::TempDir;

namespace {

class BannerTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        if (IsSkipped())
            return;
        appDir.use(dir.path());
        writePicture("Left.png", 40, 20, 0xcc3300ff);
        writePicture("Right.png", 30, 20, 0x0033ccff);
    }
    void writePicture(const char* name, int width, int height, guint32 rgba) {
        GdkPixbuf* picture = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height);
        gdk_pixbuf_fill(picture, rgba);
        ASSERT_TRUE(gdk_pixbuf_save(picture, dir.file(name).c_str(), "png", nullptr, nullptr));
        g_object_unref(picture);
    }

    // Shows the banner alone in a window `width` wide.
    GtkWidget* showIn(GtkWidget* banner, int width) {
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_container_add(GTK_CONTAINER(window), banner);
        gtk_window_set_default_size(GTK_WINDOW(window), width, -1);
        gtk_widget_show_all(window);
        return window;
    }
    static int pictureWidth(GtkImage* image) {
        GdkPixbuf* p = gtk_image_get_pixbuf(image);
        return p ? gdk_pixbuf_get_width(p) : -1;
    }

    TempDir dir;
    guitest::ScopedAppDirectory appDir;
};

// The pictures the program ships: each banner's pictures share one height, so
// the strip is even, and the stretch joins them.
TEST_F(BannerTest, ShippedBannersFitTogether) {
    appDir.useShipped();
    GtkWidget* main = createBanner("MainFrameBannerLeft.png", "MainFrameBannerRight.png");
    auto images = guitest::findWidgets(main, GTK_TYPE_IMAGE);
    ASSERT_EQ(images.size(), 3u);
    for (GtkWidget* image : images) {
        ASSERT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF);
        EXPECT_EQ(gdk_pixbuf_get_height(gtk_image_get_pixbuf(GTK_IMAGE(image))),
                  gdk_pixbuf_get_height(gtk_image_get_pixbuf(GTK_IMAGE(images[0]))));
    }
    GtkWidget* window = showIn(main, 800);
    ASSERT_TRUE(guitest::pumpUntil([&] { return images[1]->allocation.width > 100; }));
    guitest::screenshot(window, "banner-main");
    gtk_widget_destroy(window);

    GtkWidget* wizard = g_object_ref_sink(createBanner(nullptr, "WizardBannerRight.png"));
    EXPECT_NE(bannerStretchImage(wizard), nullptr);
    g_object_unref(wizard);
}

} // namespace
