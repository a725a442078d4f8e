#include "core/Ownership.h"
#include "core/Progress.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Counted {
    explicit Counted(int* alive) : alive_(alive) { ++*alive_; }
    virtual ~Counted() { --*alive_; }
    int* alive_;
};

TEST(SharedPtrTest, CopiesShareOneObject) {
    int alive = 0;
    {
        SharedPtr<Counted> a(new Counted(&alive));
        {
            SharedPtr<Counted> b(a);
            SharedPtr<Counted> c;
            c = b;
            EXPECT_EQ(a.useCount(), 3);
            EXPECT_EQ(c.get(), a.get());
        }
        EXPECT_EQ(alive, 1);
        EXPECT_EQ(a.useCount(), 1);
    }
    EXPECT_EQ(alive, 0);
}

TEST(SharedPtrTest, NullCopiedAndSelfAssigned) {
    SharedPtr<Counted> a;
    SharedPtr<Counted> b(a), c(b);
    EXPECT_EQ(a.useCount(), 3);
    a = a;
    EXPECT_EQ(a.useCount(), 3);
    EXPECT_EQ(c.get(), nullptr);
}

TEST(SharedPtrTest, ResetWithTheHeldPointerKeepsIt) {
    int alive = 0;
    Counted* raw = new Counted(&alive);
    SharedPtr<Counted> a(raw);
    a.reset(raw);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(a.get(), raw);
    a.reset(new Counted(&alive));
    EXPECT_EQ(alive, 1);
    a.reset();
    EXPECT_EQ(alive, 0);
}

TEST(ScopedArrayTest, ResetFreesTheOldArray) {
    ScopedArray<u8> a(new u8[16]);
    a.reset(nullptr);
    EXPECT_EQ(a.get(), nullptr);
    ScopedArray<u8> b(new u8[4]);
    a.swap(b);
    EXPECT_NE(a.get(), nullptr);
    EXPECT_EQ(b.get(), nullptr);
}

TEST(ByteOverrideTest, NestedOverridesRestoreInReverse) {
    u8 byte = 5;
    {
        ByteOverride first(&byte, 6);
        {
            ByteOverride second(&byte, 7);
            EXPECT_EQ(byte, 7);
        }
        EXPECT_EQ(byte, 6);
    }
    EXPECT_EQ(byte, 5);
    bool flag = true;
    {
        ByteOverride off(&flag, false);
        EXPECT_FALSE(flag);
    }
    EXPECT_TRUE(flag);
}

struct Sink : InterfaceCallback {
    int polls = 0;
    std::string text;
    u64 position = 0;
    void poll() override { ++polls; }
    void setText(u64 kind, const std::string& t) override {
        if (kind == TEXT_MAIN)
            text = t;
    }
    void setPosition(u64 mode, u64 value) override {
        if (mode == POSITION_SET)
            position = value;
        else if (mode == POSITION_ADD)
            position += value;
    }
};

TEST(ProgressTest, WorkerWithoutSinkIsSilent) {
    UsesInterfaceCallback worker;
    EXPECT_FALSE(worker.hasInterfaceCallback());
    EXPECT_NO_THROW(worker.poll());
    EXPECT_NO_THROW(worker.setText(0, "x"));
    EXPECT_NO_THROW(worker.setPosition(0, 1));
}

TEST(ProgressTest, ForwardsAndIgnoresUnknownKinds) {
    UsesInterfaceCallback worker;
    Sink sink;
    worker.setInterfaceCallback(&sink);
    worker.poll();
    worker.setText(InterfaceCallback::TEXT_MAIN, "Reading");
    worker.setText(9, "ignored");
    worker.setPosition(InterfaceCallback::POSITION_SET, 10);
    worker.setPosition(InterfaceCallback::POSITION_ADD, 5);
    worker.setPosition(7, 100);
    EXPECT_EQ(sink.polls, 1);
    EXPECT_EQ(sink.text, "Reading");
    EXPECT_EQ(sink.position, 15u);
    worker.setInterfaceCallback(nullptr);
    worker.poll();
    EXPECT_EQ(sink.polls, 1);
}

TEST(ProgressTest, ScopeRestoresThePreviousSinkWhenACancelUnwinds) {
    UsesInterfaceCallback worker;
    Sink outer;
    worker.setInterfaceCallback(&outer);
    try {
        auto box = std::make_unique<Sink>();
        InterfaceCallbackScope scope(worker, box.get());
        EXPECT_EQ(worker.getInterfaceCallback(), box.get());
        throw InterruptedException();
    } catch (const InterruptedException&) {
    }
    EXPECT_EQ(worker.getInterfaceCallback(), &outer);
}

} // namespace
