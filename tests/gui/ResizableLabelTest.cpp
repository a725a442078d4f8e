#include "gui/ResizableLabel.h"

#include "tests/gui/GuiTestSupport.h"

#include <string>

namespace {

class ResizableLabelTest : public guitest::GuiTest {};

TEST_F(ResizableLabelTest, IsARegisteredLayoutType) {
    GType type = gtk_resizable_label_get_type();
    EXPECT_EQ(type, g_type_from_name("GtkResizableLabel"));
    EXPECT_TRUE(g_type_is_a(type, GTK_TYPE_LAYOUT));
    EXPECT_EQ(gtk_resizable_label_get_type(), type);
}

TEST_F(ResizableLabelTest, AsksForItsOneLineWidthUpToTheMaximum) {
    GtkWidget* shortLabel = g_object_ref_sink(createResizableLabel("Done", 500));
    GtkWidget* longLabel = g_object_ref_sink(createResizableLabel(
        std::string(400, 'x').append(" and more words after it").c_str(), 120));
    auto* shortSelf = reinterpret_cast<GtkResizableLabel*>(shortLabel);
    auto* longSelf = reinterpret_cast<GtkResizableLabel*>(longLabel);
    EXPECT_GT(shortSelf->width, 0);
    EXPECT_LT(shortSelf->width, 500);
    EXPECT_EQ(longSelf->width, 120);
    int width = 0;
    gtk_widget_get_size_request(longLabel, &width, nullptr);
    EXPECT_EQ(width, 120);
    resizableLabelSetWidth(longLabel, 100);
    gtk_widget_get_size_request(longLabel, &width, nullptr);
    EXPECT_EQ(width, 100);
    EXPECT_EQ(longSelf->width, 100);
    g_object_unref(shortLabel);
    g_object_unref(longLabel);
}

TEST_F(ResizableLabelTest, WrapsAtTheWidthItIsGivenAndGrowsInHeight) {
    std::string words;
    for (int i = 0; i < 40; ++i)
        words += "word ";
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget* label = createResizableLabel(words.c_str(), 500);
    gtk_container_add(GTK_CONTAINER(window), label);
    gtk_widget_show_all(window);
    ASSERT_TRUE(guitest::pumpUntil([&] { return label->allocation.width == 500; }));
    GtkWidget* inner = GTK_WIDGET(resizableLabelGetLabel(label));
    ASSERT_TRUE(guitest::pumpUntil([&] { return label->allocation.height > 0; }));
    int wideHeight = label->allocation.height;

    // Narrower: the text re-wraps into more lines and the widget asks for them.
    resizableLabelSetWidth(label, 150);
    gtk_window_resize(GTK_WINDOW(window), 150, 1);
    ASSERT_TRUE(guitest::pumpUntil([&] { return label->allocation.width == 150; }));
    EXPECT_TRUE(guitest::pumpUntil([&] { return label->allocation.height > wideHeight; }));
    EXPECT_TRUE(guitest::pumpUntil([&] { return inner->allocation.width == 150; }));
    EXPECT_EQ(label->allocation.height, inner->allocation.height);
    guitest::screenshot(window, "resizable-label");
    gtk_widget_destroy(window);
}

TEST_F(ResizableLabelTest, TextThatIsNoMarkupShowsAsItStands) {
    GtkWidget* label = g_object_ref_sink(createResizableLabel("a & b <c", 500));
    EXPECT_STREQ(gtk_label_get_text(resizableLabelGetLabel(label)), "a & b <c");
    g_object_unref(label);
    GtkWidget* bold = g_object_ref_sink(createResizableLabel("<b>x</b> &amp; y", 500));
    EXPECT_STREQ(gtk_label_get_text(resizableLabelGetLabel(bold)), "x & y");
    g_object_unref(bold);
    GtkWidget* plain = g_object_ref_sink(gtk_label_new("no"));
    EXPECT_EQ(resizableLabelGetLabel(plain), nullptr);
    g_object_unref(plain);
}

} // namespace
