#include "gui/GuiContext.h"

#include <gtest/gtest.h>

namespace {

TEST(GuiContextTest, ALocationComesWithoutAFolderUntilOneIsSet) {
    std::vector<std::string> known;
    GuiContext context(nullptr, nullptr, &known, nullptr);
    EXPECT_EQ(context.getKnownDescriptors(), &known);
    EXPECT_TRUE(context.locationId().empty());
    context.setCurrentDirectory("/old");
    context.setLocation("/mnt/data", "data Directory", "/mnt/data");
    EXPECT_EQ(context.locationId(), "/mnt/data");
    EXPECT_EQ(context.locationText(), "data Directory");
    EXPECT_EQ(context.locationTreePath(), "/mnt/data");
    EXPECT_EQ(context.currentDirectory(), ""); // belonged to the old location
    context.setCurrentDirectory("/mnt/data/scans");
    EXPECT_EQ(context.makePath(nullptr), "/mnt/data/scans");
    EXPECT_EQ(context.makePath("Scan.bin"), "/mnt/data/scans/Scan.bin");

    context.clearLocation();
    EXPECT_TRUE(context.locationId().empty());
    EXPECT_TRUE(context.locationText().empty());
    EXPECT_TRUE(context.locationTreePath().empty());
    EXPECT_TRUE(context.currentDirectory().empty());
}

} // namespace
