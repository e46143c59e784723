// Self-registration: the COM class keys and the shell's Find/Search entry.
#include <windows.h>
#include <objbase.h>
#include <olectl.h>

#include "kvshellsearch.h"
#include "preferences.h"
#include "registration_rules.h"
#include "text.h"

namespace {

// The texts registration writes, all gathered before the first write.
struct RegistrationTexts {
    char classId[TextBufferSize];
    char displayName[TextBufferSize];
    char menuText[TextBufferSize];
    char modulePath[TextBufferSize];
};

HRESULT MakeClassIdText(char* text)
{
    LPOLESTR wide = nullptr;
    HRESULT result = StringFromIID(CLSID_ShellSearch, &wide);
    if (FAILED(result))
        return result;
    int converted
        = WideCharToMultiByte(CP_ACP, 0, wide, -1, text, TextBufferSize, nullptr, nullptr);
    DWORD error = GetLastError();
    CoTaskMemFree(wide);
    // Without the text every class key path would end at "CLSID\": registration would write
    // into the CLSID key itself, and unregistration would delete it with every class below it
    // (Windows 95 deletes a key's subkeys too).
    if (converted <= 1) {
        text[0] = '\0';
        return converted == 0 && error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    return S_OK;
}

// A string the translation lacks is taken from this module: an empty menu text would hide the
// entry. Only a string missing from both gives an empty text.
void LoadResourceText(UINT id, char* text)
{
    if (LoadStringA(ResourceModule, id, text, TextBufferSize) > 0)
        return;
    if (ResourceModule == OwnModule || LoadStringA(OwnModule, id, text, TextBufferSize) <= 0)
        text[0] = '\0';
}

// The module is registered beside the player: the directory of the MainApp preference joined
// with our own file name. A path that does not fit is never registered cut short.
HRESULT MakeModulePath(char* modulePath)
{
    char mainApp[TextBufferSize] = {};
    ReadMainAppPath(mainApp, TextBufferSize); // without a preference: the bare file name
    return MakeRegisteredModulePath(mainApp, ModuleFileName, modulePath);
}

const char* TextFor(ValueData data, const RegistrationTexts& texts)
{
    static constexpr char Apartment[] = "Apartment";
    switch (data) {
    case ValueData::DisplayName:
        return texts.displayName;
    case ValueData::ModulePath:
        return texts.modulePath;
    case ValueData::Apartment:
        return Apartment;
    case ValueData::ClassId:
        return texts.classId;
    case ValueData::MenuText:
        return texts.menuText;
    case ValueData::None:
        break;
    }
    return nullptr;
}

// Remembers the first registry failure while the caller carries on with the rest.
void NoteResult(LONG status, HRESULT& firstError)
{
    if (status != ERROR_SUCCESS && SUCCEEDED(firstError))
        firstError = HRESULT_FROM_WIN32(status);
}

HRESULT WriteLayout(const RegistrationTexts& texts)
{
    HRESULT firstError = S_OK;
    for (const RegisteredKey& entry : RegistrationLayout) {
        char path[TextBufferSize] = {};
        FormatRegisteredKeyPath(entry, texts.classId, path);
        HKEY key = nullptr;
        LONG status = RegCreateKeyExA(
            entry.root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        NoteResult(status, firstError);
        if (status != ERROR_SUCCESS)
            continue;
        for (const RegisteredValue& value : entry.values) {
            const char* text = TextFor(value.data, texts);
            if (text == nullptr)
                continue;
            // The size counts the terminating zero.
            NoteResult(
                RegSetValueExA(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                    static_cast<DWORD>(TextLength(text) + 1)),
                firstError);
        }
        RegCloseKey(key);
    }
    return firstError;
}

} // namespace

STDAPI DllRegisterServer()
{
    RegistrationTexts texts = {};

    HRESULT result = MakeClassIdText(texts.classId);
    if (FAILED(result))
        return result;
    result = MakeModulePath(texts.modulePath);
    if (FAILED(result))
        return result;
    LoadResourceText(IDS_CLASS_DISPLAY_NAME, texts.displayName);
    LoadResourceText(MenuTextIdForThisSystem(), texts.menuText);
    return WriteLayout(texts);
}

STDAPI DllUnregisterServer()
{
    char classId[TextBufferSize] = {};
    HRESULT result = MakeClassIdText(classId);
    if (FAILED(result))
        return result;

    HRESULT firstError = S_OK;
    for (size_t i = ARRAYSIZE(RegistrationLayout); i > 0; --i) {
        const RegisteredKey& entry = RegistrationLayout[i - 1];
        char path[TextBufferSize] = {};
        FormatRegisteredKeyPath(entry, classId, path);
        LONG status = RegDeleteKeyA(entry.root, path);
        // Already gone is what unregistration wants.
        if (status != ERROR_FILE_NOT_FOUND)
            NoteResult(status, firstError);
    }
    return firstError;
}
