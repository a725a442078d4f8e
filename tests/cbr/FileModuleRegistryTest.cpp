#include "cbr/FileModuleRegistry.h"

#include "tests/cbr/CbrTestSupport.h"

#include <gtest/gtest.h>

namespace {

using cbr::FileModuleRegistry;

TEST(FileModuleRegistryTest, FindsByExactNameAndALaterAddReplaces) {
    FileModuleRegistry registry(FileModuleRegistry::NO_MODULES);
    EXPECT_EQ(registry.find("jpeg"), nullptr);
    auto first = cbrtest::addStub(registry, "jpeg");
    EXPECT_EQ(registry.find("jpeg"), first.stub);
    EXPECT_EQ(registry.find("JPEG"), nullptr);
    EXPECT_EQ(registry.find("jpe"), nullptr);

    auto second = cbrtest::addStub(registry, "jpeg");
    EXPECT_EQ(registry.find("jpeg"), second.stub);
    // The replaced module lives on only through the test's own holder.
    EXPECT_EQ(first.holder.useCount(), 1);
}

TEST(FileModuleRegistryTest, AllNamesOfAModuleShareOneObject) {
    FileModuleRegistry registry(FileModuleRegistry::NO_MODULES);
    auto handle = cbrtest::addStub(registry, "riff");
    registry.add({"avi", "wav"}, handle.holder);
    EXPECT_EQ(registry.find("avi"), handle.stub);
    EXPECT_EQ(registry.find("wav"), handle.stub);
    EXPECT_EQ(handle.holder.useCount(), 4);
    EXPECT_EQ(registry.modules().size(), 3u);
}

TEST(FileModuleRegistryTest, TheProgramsRegistryHoldsEveryModuleUnderAllItsNames) {
    FileModuleRegistry registry;
    u64 names = 0;
    for (const auto& module : cbrtest::moduleNames()) {
        cbr::FileModule* first = registry.find(module[0]);
        ASSERT_NE(first, nullptr) << module[0];
        for (const char* name : module) {
            EXPECT_EQ(registry.find(name), first) << name;
            ++names;
        }
    }
    EXPECT_EQ(names, 54u);
    EXPECT_EQ(registry.modules().size(), 54u);
}

} // namespace
