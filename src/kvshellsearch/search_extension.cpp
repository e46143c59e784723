#include "search_extension.h"

#include "launch.h"

IFACEMETHODIMP ShellSearchExtension::QueryInterface(REFIID riid, void** ppv)
{
    IUnknown* const identity = static_cast<IShellExtInit*>(this);
    const InterfaceEntry interfaces[] = {
        {&__uuidof(IShellExtInit), identity},
        {&__uuidof(IUnknown), identity},
        {&__uuidof(IContextMenu), static_cast<IContextMenu*>(this)},
    };
    return QueryInterfaceFromTable(interfaces, ARRAYSIZE(interfaces), riid, ppv);
}

IFACEMETHODIMP_(ULONG) ShellSearchExtension::AddRef()
{
    return references_.Up();
}

IFACEMETHODIMP_(ULONG) ShellSearchExtension::Release()
{
    ULONG count = references_.Down();
    if (count == 0)
        delete this;
    return count;
}

// The menu text and icon come from the registry entry; the object adds no items of its own.
IFACEMETHODIMP ShellSearchExtension::QueryContextMenu(HMENU, UINT, UINT, UINT, UINT)
{
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
}

// Whatever verb or offset the shell passes, the only command there is runs.
IFACEMETHODIMP ShellSearchExtension::InvokeCommand(CMINVOKECOMMANDINFO*)
{
    return LaunchPlayerSearch();
}

// The entry has no verb and no help text of its own: an empty text, so that a caller never
// shows what its buffer held before.
IFACEMETHODIMP ShellSearchExtension::GetCommandString(
    UINT_PTR, UINT type, UINT*, CHAR* name, UINT cchMax)
{
    if (name == nullptr || cchMax == 0)
        return S_OK;
    if (type & GCS_UNICODE)
        *reinterpret_cast<WCHAR*>(name) = L'\0';
    else
        *name = '\0';
    return S_OK;
}

IFACEMETHODIMP ShellSearchExtension::Initialize(PCIDLIST_ABSOLUTE, IDataObject*, HKEY)
{
    return S_OK;
}
