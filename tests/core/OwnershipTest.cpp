#include "core/Ownership.h"
#include "core/Progress.h"

#include <gtest/gtest.h>

namespace {

struct Counted {
    explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
    ~Counted() { --*alive_; }
    int* alive_;
};

// One object per group of copies, freed once when the last goes; handing a
// holder its own pointer again must not free it.
TEST(OwnershipTest, SharedObjectsGoWithTheirLastHolder) {
    int alive = 0;
    {
        Counted* raw = new Counted(&alive);
        SharedPtr<Counted> a(raw);
        {
            SharedPtr<Counted> b(a), c;
            c = b;
            c = c;
            EXPECT_EQ(a.useCount(), 3);
        }
        a.reset(raw);
        EXPECT_EQ(alive, 1);
        EXPECT_EQ(a.get(), raw);
        a.reset(new Counted(&alive));
        EXPECT_EQ(alive, 1);
    }
    EXPECT_EQ(alive, 0);
}

// A progress sink comes back when a cancel unwinds through its scope.
TEST(OwnershipTest, AProgressScopeRestoresItsSinkWhenACancelUnwinds) {
    UsesInterfaceCallback worker;
    InterfaceCallback outer, inner;
    worker.setInterfaceCallback(&outer);
    try {
        InterfaceCallbackScope scope(worker, &inner);
        EXPECT_EQ(worker.getInterfaceCallback(), &inner);
        throw InterruptedException();
    } catch (const InterruptedException&) {
    }
    EXPECT_EQ(worker.getInterfaceCallback(), &outer);
}

} // namespace
