// The object the shell creates for the Find/Search entry.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include "com_support.h"

class ShellSearchExtension final : public IContextMenu, public IShellExtInit, private LiveObject {
public:
    // IUnknown, shared by both interfaces; the object's identity is its IShellExtInit pointer.
    IFACEMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    // IContextMenu
    IFACEMETHODIMP QueryContextMenu(
        HMENU menu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast, UINT flags) override;
    IFACEMETHODIMP InvokeCommand(CMINVOKECOMMANDINFO* invokeInfo) override;
    IFACEMETHODIMP GetCommandString(
        UINT_PTR idCmd, UINT type, UINT* reserved, CHAR* name, UINT cchMax) override;

    // IShellExtInit
    IFACEMETHODIMP Initialize(
        PCIDLIST_ABSOLUTE folder, IDataObject* dataObject, HKEY progIdKey) override;

private:
    ReferenceCount references_;
};
