// Small helpers that both COM classes of the module use.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>

#include "interlocked.h"
#include "kvshellsearch.h"

// One interface an object hands out, and the pointer it hands out for it.
struct InterfaceEntry {
    const IID* iid;
    IUnknown* pointer;
};

// Looks riid up in the table, in order; on a match stores the pointer in *ppv and takes one
// reference through it. *ppv is null after every failure.
inline HRESULT QueryInterfaceFromTable(
    const InterfaceEntry* table, size_t count, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    for (size_t i = 0; i < count; ++i) {
        if (IsEqualIID(riid, *table[i].iid)) {
            *ppv = table[i].pointer;
            table[i].pointer->AddRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// Every live object counts in LiveObjectCount, from construction to destruction, so that the
// module is never unloaded under an object, nor kept loaded by one that is gone.
class LiveObject {
protected:
    LiveObject() { CountUp(&LiveObjectCount); }
    ~LiveObject() { CountDown(&LiveObjectCount); }
};

// An object's reference count. Every change is atomic, and whether the object goes depends only
// on the new count being zero. The count handed back to the caller is read from the field while
// the caller's own reference still keeps the object alive, never after the change: once the
// count has gone down, another thread may free the object at any moment. It is exact whenever
// no other thread changes the count at the same time, which is all COM asks of it.
class ReferenceCount {
public:
    ULONG Up()
    {
        LONG before = value_;
        CountUp(&value_);
        return static_cast<ULONG>(before + 1);
    }
    // 0 exactly when the last reference went: the caller then frees the object.
    ULONG Down()
    {
        LONG before = value_;
        if (CountDown(&value_) == 0)
            return 0;
        return before > 1 ? static_cast<ULONG>(before - 1) : 1;
    }

private:
    volatile LONG value_ = 0;
};

// Makes a T and hands out riid through its own QueryInterface, which takes the first reference.
// An object whose first QueryInterface fails is never seen by anyone and is freed at once.
template <typename T> HRESULT CreateObject(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    T* object = new (std::nothrow) T();
    if (object == nullptr)
        return E_OUTOFMEMORY;
    HRESULT result = object->QueryInterface(riid, ppv);
    if (FAILED(result))
        delete object;
    return result;
}
