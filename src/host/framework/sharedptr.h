// Intrusive reference counting for framework objects (AUT objects, script arguments, application
// contexts, native script objects, test data sets). The counter is a plain int: everything runs on the
// script thread.
#pragma once

#include <cstddef>
#include <utility>

class Shared {
public:
    Shared() = default;
    // A copy is a new object: it starts without references.
    Shared(const Shared&) : refCount(0) {}
    Shared& operator=(const Shared&) { return *this; }
    virtual ~Shared() = default;

    void ref() const { ++refCount; }
    // Drops one reference and deletes the object at 0.
    void deref() const
    {
        if (--refCount == 0)
            delete this;
    }
    int refs() const { return refCount; }

private:
    mutable int refCount = 0;
};

template <class T> class SharedPtr {
public:
    SharedPtr() = default;
    SharedPtr(std::nullptr_t) {}
    SharedPtr(T* object) : p(object)
    {
        if (p)
            p->ref();
    }
    SharedPtr(const SharedPtr& other) : SharedPtr(other.p) {}
    SharedPtr(SharedPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    template <class U> SharedPtr(const SharedPtr<U>& other) : SharedPtr(static_cast<T*>(other.get())) {}
    ~SharedPtr()
    {
        if (p)
            p->deref();
    }

    SharedPtr& operator=(SharedPtr other) noexcept
    {
        std::swap(p, other.p);
        return *this;
    }

    T* get() const { return p; }
    T* operator->() const { return p; }
    T& operator*() const { return *p; }
    explicit operator bool() const { return p != nullptr; }
    bool isNull() const { return p == nullptr; }
    void reset() { SharedPtr().swap(*this); }
    void swap(SharedPtr& other) noexcept { std::swap(p, other.p); }

    bool operator==(const SharedPtr& other) const { return p == other.p; }
    bool operator!=(const SharedPtr& other) const { return p != other.p; }

    // A pointer of a derived type, or null when the object is not one.
    template <class U> SharedPtr<U> dynamicCast() const { return SharedPtr<U>(dynamic_cast<U*>(p)); }

private:
    T* p = nullptr;
};
