#pragma once

// How long-running workers report progress and learn that the user cancelled.

#include "core/Types.h"

#include <exception>
#include <string>

// Thrown by a sink's poll() once the user has cancelled, and by questions
// answered No that end an operation.
class InterruptedException : public std::exception {
public:
    ~InterruptedException() override = default;
};

class InterfaceCallback {
public:
    enum TextKind : u64 { TEXT_MAIN = 0, TEXT_SECOND = 1, TEXT_TITLE = 2 };
    enum PositionMode : u64 {
        POSITION_SET = 0,
        POSITION_ADD = 1,
        // Scan counters, shown live by the scanner page.
        FOUND_PARTITION_TABLES = 2,
        FOUND_BOOT_SECTORS = 3,
        FOUND_FATS = 4,
        FOUND_DIRECTORIES = 5,
        FOUND_NTFS_RECORDS = 6,
        FOUND_NTFS_FILES = 7,
        FOUND_CBR_FILES = 8,
    };

    virtual void poll() {}
    virtual void setText(u64 kind, const std::string& text) {
        (void)kind;
        (void)text;
    }
    virtual void setPosition(u64 mode, u64 value) {
        (void)mode;
        (void)value;
    }
    virtual ~InterfaceCallback() = default;
};

// Marks a sink that is a progress box, so factories can hand one out by type.
class ProgressBoxIC : public InterfaceCallback {
public:
    ~ProgressBoxIC() override = default;
};

// Base of every worker that reports progress. The sink is not owned: whoever
// sets it keeps it alive while the worker runs (see InterfaceCallbackScope).
class UsesInterfaceCallback {
public:
    UsesInterfaceCallback() = default;
    // A copied worker does not inherit a sink that belongs to the original's caller.
    UsesInterfaceCallback(const UsesInterfaceCallback&) {}
    UsesInterfaceCallback& operator=(const UsesInterfaceCallback&) { return *this; }
    virtual ~UsesInterfaceCallback() = default;

    virtual void setInterfaceCallback(InterfaceCallback* callback) { callback_ = callback; }
    virtual InterfaceCallback* getInterfaceCallback() const { return callback_; }
    virtual bool hasInterfaceCallback() const { return callback_ != nullptr; }
    virtual void poll() {
        if (callback_)
            callback_->poll();
    }
    virtual void setText(u64 kind, const std::string& text) {
        if (callback_)
            callback_->setText(kind, text);
    }
    virtual void setPosition(u64 mode, u64 value) {
        if (callback_)
            callback_->setPosition(mode, value);
    }

private:
    InterfaceCallback* callback_ = nullptr;
};

// Sets a worker's sink for the length of one operation and puts the previous one
// back when the scope ends, also when a cancel unwinds it, so that no worker is
// left pointing at a progress box that no longer exists.
class InterfaceCallbackScope {
public:
    InterfaceCallbackScope(UsesInterfaceCallback& worker, InterfaceCallback* callback)
        : worker_(worker), saved_(worker.getInterfaceCallback()) {
        worker_.setInterfaceCallback(callback);
    }
    ~InterfaceCallbackScope() { worker_.setInterfaceCallback(saved_); }
    InterfaceCallbackScope(const InterfaceCallbackScope&) = delete;
    InterfaceCallbackScope& operator=(const InterfaceCallbackScope&) = delete;

private:
    UsesInterfaceCallback& worker_;
    InterfaceCallback* saved_;
};
