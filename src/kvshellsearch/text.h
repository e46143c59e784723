// The few text and byte operations the module needs, written here so that it imports no C
// runtime DLL: the first release of Windows 95 has no msvcrt.dll, and a module that imports it
// does not load there at all.
#pragma once

#include <stddef.h>

inline size_t TextLength(const char* text)
{
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

// The first (FindChar) or last (FindLastChar) occurrence of c in text, or null.
inline const char* FindChar(const char* text, char c)
{
    for (; *text != '\0'; ++text) {
        if (*text == c)
            return text;
    }
    return nullptr;
}

inline const char* FindLastChar(const char* text, char c)
{
    const char* found = nullptr;
    for (; *text != '\0'; ++text) {
        if (*text == c)
            found = text;
    }
    return found;
}

inline void CopyBytes(void* dest, const void* source, size_t count)
{
    auto* to = static_cast<unsigned char*>(dest);
    const auto* from = static_cast<const unsigned char*>(source);
    while (count-- != 0)
        *to++ = *from++;
}
