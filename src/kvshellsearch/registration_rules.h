// What registration decides before it writes: the keys and values it writes, which menu text this
// system gets, and the module path it registers. shellfind's doctor and repair ask the same.
#pragma once

#include <windows.h>

// The string resource registration writes as the menu text on this system: the newer shells'
// text, or the older shells' one.
UINT MenuTextIdForThisSystem();

// The module path registered for a MainApp value: the value's directory joined with fileName
// (ModuleFileName for this build). Fails, writing nothing, when the path would not fit
// TextBufferSize bytes.
HRESULT MakeRegisteredModulePath(const char* mainApp, const char* fileName, char* modulePath);

enum class KeyArgument { ClassId, ExtensionName };
enum class ValueData { None, DisplayName, ModulePath, Apartment, ClassId, MenuText };

struct RegisteredValue {
    const char* name; // null for the key's default value
    ValueData data;
};

struct RegisteredKey {
    HKEY root;
    const char* pathTemplate;
    KeyArgument argument;
    RegisteredValue values[2];
};

// Everything registration writes. Registration walks it forward; unregistration walks it
// backward, so each key is deleted after its subkeys and the two can never drift apart.
constexpr size_t RegisteredKeyCount = 5;
extern const RegisteredKey RegistrationLayout[RegisteredKeyCount];

// A layout key's path, with the class identifier's text or the extension's name, into a buffer of
// TextBufferSize bytes.
void FormatRegisteredKeyPath(const RegisteredKey& key, const char* classId, char* path);
