#pragma once
// The run-time's root class and interface reference counting.
//
// IInterface carries only the two reference operations (AddRef, Release); nothing in the
// system asks an object for an interface. Classes take it as a virtual base, so a class that
// implements several interfaces has one IInterface and one pair of reference operations.
//
// TInterfacedObject counts references and frees itself when the last one goes. The count
// starts at 0: hold a new object in a TInterfaceRef straight away, and do not wrap `this` in
// a TInterfaceRef inside a constructor (the count would drop to 0 and free the object).

#include <atomic>
#include <cstdint>
#include <utility>

class TObject {
public:
    virtual ~TObject() = default;
};

class IInterface {
public:
    // Both return the new count, or -1 for objects that do not count references.
    virtual std::int32_t AddRef() = 0;
    virtual std::int32_t Release() = 0;

protected:
    ~IInterface() = default;
};

class TInterfacedObject : public TObject, public virtual IInterface {
public:
    std::int32_t AddRef() override { return ++FRefCount; }
    std::int32_t Release() override
    {
        const std::int32_t count = --FRefCount;
        if (count == 0)
            delete this;
        return count;
    }
    std::int32_t RefCount() const { return FRefCount; }

private:
    std::atomic<std::int32_t> FRefCount{0};
};

// An interface reference: adds a reference on taking an object, releases it on letting go.
template <class T>
class TInterfaceRef {
public:
    TInterfaceRef() noexcept = default;
    TInterfaceRef(std::nullptr_t) noexcept {}
    TInterfaceRef(T* AObject) : FObject(AObject) { Acquire(); }
    TInterfaceRef(const TInterfaceRef& AOther) : FObject(AOther.FObject) { Acquire(); }
    TInterfaceRef(TInterfaceRef&& AOther) noexcept : FObject(std::exchange(AOther.FObject, nullptr)) {}
    template <class U>
    TInterfaceRef(const TInterfaceRef<U>& AOther) : FObject(AOther.Get()) { Acquire(); }
    ~TInterfaceRef() { Reset(); }

    TInterfaceRef& operator=(TInterfaceRef AOther) noexcept
    {
        std::swap(FObject, AOther.FObject);
        return *this;
    }

    void Reset()
    {
        if (T* object = std::exchange(FObject, nullptr))
            object->Release();
    }
    T* Get() const noexcept { return FObject; }
    T* operator->() const noexcept { return FObject; }
    T& operator*() const noexcept { return *FObject; }
    explicit operator bool() const noexcept { return FObject != nullptr; }

private:
    void Acquire()
    {
        if (FObject)
            FObject->AddRef();
    }

    T* FObject = nullptr;
};
