// What registration decides before it writes: which menu text this system gets, and the module
// path it registers. shellfind's doctor asks the same functions.
#pragma once

#include <windows.h>

// The string resource registration writes as the menu text on this system: the newer shells'
// text, or the older shells' one.
UINT MenuTextIdForThisSystem();

// The module path registered for a MainApp value: the value's directory joined with fileName
// (ModuleFileName for this build). Fails, writing nothing, when the path would not fit
// TextBufferSize bytes.
HRESULT MakeRegisteredModulePath(const char* mainApp, const char* fileName, char* modulePath);
