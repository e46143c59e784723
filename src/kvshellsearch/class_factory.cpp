#include "class_factory.h"

#include "search_extension.h"

IFACEMETHODIMP ShellSearchFactory::QueryInterface(REFIID riid, void** ppv)
{
    const InterfaceEntry interfaces[] = {
        {&__uuidof(IUnknown), this},
        {&__uuidof(IClassFactory), this},
    };
    return QueryInterfaceFromTable(interfaces, ARRAYSIZE(interfaces), riid, ppv);
}

IFACEMETHODIMP_(ULONG) ShellSearchFactory::AddRef()
{
    return references_.Up();
}

IFACEMETHODIMP_(ULONG) ShellSearchFactory::Release()
{
    ULONG count = references_.Down();
    if (count == 0)
        delete this;
    return count;
}

IFACEMETHODIMP ShellSearchFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr)
        return CLASS_E_NOAGGREGATION;
    return CreateObject<ShellSearchExtension>(riid, ppv);
}

// A locked server stays loaded (DllCanUnloadNow). An unlock without a lock is taken back at
// once, so the count never stays below zero. (Windows 95 has no InterlockedCompareExchange to
// refuse it beforehand.)
IFACEMETHODIMP ShellSearchFactory::LockServer(BOOL lock)
{
    if (lock) {
        CountUp(&ServerLockCount);
        return S_OK;
    }
    if (CountDown(&ServerLockCount) < 0)
        CountUp(&ServerLockCount);
    return S_OK;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualCLSID(rclsid, CLSID_ShellSearch))
        return CLASS_E_CLASSNOTAVAILABLE;
    return CreateObject<ShellSearchFactory>(riid, ppv);
}
