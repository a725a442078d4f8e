#pragma once

// Shared and scoped ownership. Everything runs on the one GUI thread, so the
// reference count is a plain integer.

#include "core/Types.h"

#include <utility>

// GCC 12 cannot see that a count above one keeps the count alive and warns about
// a use after free on every copy that outlives another (GCC bug 104232).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuse-after-free"
#define HB_SHAREDPTR_PRAGMA
#endif

template <typename T> class SharedPtr {
public:
    explicit SharedPtr(T* p = nullptr) : object_(p), count_(new int(1)) {}
    SharedPtr(const SharedPtr& other) : object_(other.object_), count_(other.count_) { ++*count_; }
    ~SharedPtr() { release(); }

    SharedPtr& operator=(const SharedPtr& other) {
        SharedPtr copy(other);
        swap(copy);
        return *this;
    }

    // Taking the pointer already held would give it a second count and delete it
    // twice; holding it already means there is nothing to do.
    void reset(T* p = nullptr) {
        if (p != nullptr && p == object_)
            return;
        SharedPtr tmp(p);
        swap(tmp);
    }

    void swap(SharedPtr& other) {
        std::swap(object_, other.object_);
        std::swap(count_, other.count_);
    }

    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    int useCount() const { return *count_; }

private:
    void release() {
        if (--*count_ == 0) {
            delete object_;
            delete count_;
        }
    }

    T* object_;
    int* count_;
};

#ifdef HB_SHAREDPTR_PRAGMA
#pragma GCC diagnostic pop
#undef HB_SHAREDPTR_PRAGMA
#endif

template <typename T> class ScopedArray {
public:
    explicit ScopedArray(T* p = nullptr) : pointer_(p) {}
    ~ScopedArray() { delete[] pointer_; }
    ScopedArray(const ScopedArray&) = delete;
    ScopedArray& operator=(const ScopedArray&) = delete;

    void reset(T* p = nullptr) {
        if (p == pointer_)
            return;
        delete[] pointer_;
        pointer_ = p;
    }
    void swap(ScopedArray& other) { std::swap(pointer_, other.pointer_); }
    T* get() const { return pointer_; }
    T& operator[](std::size_t i) const { return pointer_[i]; }

private:
    T* pointer_;
};

// Changes one byte for a scope and puts the old value back at its end.
class ByteOverride {
public:
    ByteOverride(u8* where, u8 value) : where_(where), saved_(*where) { *where_ = value; }
    // The log switches of the record parsers are bools; a bool is one byte here.
    ByteOverride(bool* where, bool value)
        : ByteOverride(reinterpret_cast<u8*>(where), static_cast<u8>(value ? 1 : 0)) {}
    ~ByteOverride() { *where_ = saved_; }
    ByteOverride(const ByteOverride&) = delete;
    ByteOverride& operator=(const ByteOverride&) = delete;

private:
    u8* where_;
    u8 saved_;
};
