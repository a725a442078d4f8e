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

TEST_F(BannerTest, MiddleStretchesAndThePicturesKeepTheirSize) {
    GtkWidget* banner = createBanner("Left.png", "Right.png");
    auto images = guitest::findWidgets(banner, GTK_TYPE_IMAGE);
    ASSERT_EQ(images.size(), 3u);
    GtkWidget* left = images[0];
    GtkWidget* right = images[2];
    GtkImage* stretch = bannerStretchImage(banner);
    ASSERT_NE(stretch, nullptr);
    EXPECT_EQ(GTK_WIDGET(stretch), images[1]);

    GtkWidget* window = showIn(banner, 300);
    ASSERT_TRUE(guitest::pumpUntil([&] { return pictureWidth(stretch) == 300 - 40 - 30; }));
    EXPECT_EQ(left->allocation.width, 40);
    EXPECT_EQ(right->allocation.width, 30);
    EXPECT_EQ(left->allocation.x, 0);
    EXPECT_EQ(right->allocation.x, 270);
    guitest::screenshot(window, "banner-300");

    gtk_window_resize(GTK_WINDOW(window), 500, 20);
    ASSERT_TRUE(guitest::pumpUntil([&] { return pictureWidth(stretch) == 500 - 40 - 30; }));
    EXPECT_EQ(left->allocation.width, 40);
    EXPECT_EQ(right->allocation.width, 30);
    // The stretch is the left picture's first column: the left picture's colour.
    GdkPixbuf* p = gtk_image_get_pixbuf(stretch);
    const guchar* px = gdk_pixbuf_get_pixels(p) + 100 * gdk_pixbuf_get_n_channels(p);
    EXPECT_EQ(px[0], 0xcc);
    EXPECT_EQ(px[2], 0x00);
    EXPECT_EQ(gdk_pixbuf_get_height(p), 20);
    gtk_widget_destroy(window);
}

TEST_F(BannerTest, OnlyARightPictureStretchesItsFirstColumn) {
    GtkWidget* banner = createBanner(nullptr, "Right.png");
    EXPECT_EQ(guitest::findWidgets(banner, GTK_TYPE_IMAGE).size(), 2u);
    GtkImage* stretch = bannerStretchImage(banner);
    ASSERT_NE(stretch, nullptr);
    GtkWidget* window = showIn(banner, 200);
    ASSERT_TRUE(guitest::pumpUntil([&] { return pictureWidth(stretch) == 170; }));
    GdkPixbuf* p = gtk_image_get_pixbuf(stretch);
    EXPECT_EQ(gdk_pixbuf_get_pixels(p)[2], 0xcc);
    gtk_widget_destroy(window);
}

TEST_F(BannerTest, MissingPictureShowsTheBrokenImageAndNoStretch) {
    GtkWidget* banner = g_object_ref_sink(createBanner("Missing.png", "Right.png"));
    auto images = guitest::findWidgets(banner, GTK_TYPE_IMAGE);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(images[0])), GTK_IMAGE_STOCK);
    EXPECT_EQ(bannerStretchImage(banner), nullptr);
    g_object_unref(banner);

    GtkWidget* empty = g_object_ref_sink(createBanner(nullptr, nullptr));
    EXPECT_TRUE(guitest::findWidgets(empty, GTK_TYPE_IMAGE).empty());
    g_object_unref(empty);
}

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
