// The class object that makes search extension objects.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "com_support.h"

class ShellSearchFactory final : public IClassFactory, private LiveObject {
public:
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    IFACEMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    IFACEMETHODIMP LockServer(BOOL lock) override;

private:
    ReferenceCount references_;
};
