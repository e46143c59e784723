#include "find_menu.h"

#include <windows.h>
#include <shellapi.h>

#include <string.h>

#include "find_entries.h"

namespace {

constexpr int IconSize = 16;
constexpr int Padding = 4;
constexpr UINT_PTR CloseTimer = 1;

struct MenuEntry {
    char name[256];
    char text[1024];
    HICON icon;
};

constexpr int MaxEntries = 64;
// From the heap: a static array would be stored in the file.
MenuEntry* menuEntries;
HFONT menuFont;

HFONT CreateMenuFont()
{
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return CreateFontIndirectA(&metrics.lfMenuFont);
}

void Measure(HWND window, MEASUREITEMSTRUCT* item)
{
    const MenuEntry& entry = menuEntries[item->itemData];
    HDC dc = GetDC(window);
    HGDIOBJ oldFont = SelectObject(dc, menuFont);
    RECT bounds = {0, 0, 0, 0};
    DrawTextA(dc, entry.text, -1, &bounds, DT_SINGLELINE | DT_CALCRECT);
    SelectObject(dc, oldFont);
    ReleaseDC(window, dc);
    item->itemWidth = static_cast<UINT>(bounds.right + IconSize + 6 * Padding);
    const int height = bounds.bottom > IconSize ? static_cast<int>(bounds.bottom) : IconSize;
    item->itemHeight = static_cast<UINT>(height + 2 * Padding);
}

void Draw(const DRAWITEMSTRUCT* item)
{
    const MenuEntry& entry = menuEntries[item->itemData];
    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    FillRect(item->hDC, &item->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
    const int top = item->rcItem.top + (item->rcItem.bottom - item->rcItem.top - IconSize) / 2;
    if (entry.icon != nullptr) {
        DrawIconEx(item->hDC, item->rcItem.left + 2 * Padding, top, entry.icon, IconSize, IconSize,
            0, nullptr, DI_NORMAL);
    }
    RECT text = item->rcItem;
    text.left += IconSize + 4 * Padding;
    HGDIOBJ oldFont = SelectObject(item->hDC, menuFont);
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    // The '&' in the text underlines the access key, as in the shell's own menu.
    DrawTextA(item->hDC, entry.text, -1, &text, DT_SINGLELINE | DT_VCENTER);
    SelectObject(item->hDC, oldFont);
}

LRESULT CALLBACK OwnerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MEASUREITEM:
        Measure(window, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        Draw(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_TIMER:
        // As EndMenu does, which the first Windows 95 lacks: the default procedure's cancel ends
        // the menu loop.
        if (wParam == CloseTimer)
            SendMessageA(window, WM_CANCELMODE, 0, 0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace

bool ShowFindMenu(int seconds, char* picked, size_t pickedSize)
{
    FindEntry found[MaxEntries];
    int count = ReadFindEntries(found, MaxEntries);
    menuEntries = static_cast<MenuEntry*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, MaxEntries * sizeof(MenuEntry)));
    if (menuEntries == nullptr)
        return false;
    menuFont = CreateMenuFont();

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = OwnerProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ShellFindMenuOwner";
    RegisterClassA(&windowClass);
    HWND owner = CreateWindowExA(WS_EX_TOOLWINDOW, windowClass.lpszClassName, "shellfind", WS_POPUP,
        0, 0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);

    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < count; ++i) {
        // The shell shows no entry without a menu text.
        if (found[i].menuText[0] == '\0')
            continue;
        MenuEntry& entry = menuEntries[i];
        memcpy(entry.name, found[i].name, sizeof entry.name);
        memcpy(entry.text, found[i].menuText, sizeof entry.text);
        entry.icon = nullptr;
        if (found[i].iconPath[0] != '\0')
            ExtractIconExA(found[i].iconPath, 0, nullptr, &entry.icon, 1);
        AppendMenuA(menu, MF_OWNERDRAW, static_cast<UINT_PTR>(i) + 1,
            reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(i)));
    }
    if (count == 0)
        AppendMenuA(menu, MF_STRING | MF_GRAYED, 1, "(no find extensions registered)");

    SetTimer(owner, CloseTimer, static_cast<UINT>(seconds) * 1000, nullptr);
    SetForegroundWindow(owner);
    int chosen = TrackPopupMenu(menu, TPM_RETURNCMD, 24, 24, 0, owner, nullptr);
    KillTimer(owner, CloseTimer);

    for (int i = 0; i < count; ++i) {
        if (menuEntries[i].icon != nullptr)
            DestroyIcon(menuEntries[i].icon);
    }
    DestroyMenu(menu);
    DestroyWindow(owner);
    DeleteObject(menuFont);
    const bool isPicked = chosen > 0 && chosen <= count;
    if (isPicked)
        lstrcpynA(picked, menuEntries[chosen - 1].name, static_cast<int>(pickedSize));
    HeapFree(GetProcessHeap(), 0, menuEntries);
    menuEntries = nullptr;
    return isPicked;
}
