// The few text and byte operations the module needs, written here so that it imports no C
// runtime DLL: the first release of Windows 95 has no msvcrt.dll, and a module that imports it
// does not load there at all.
#pragma once

#include <stddef.h>
#include <windows.h>

inline size_t TextLength(const char* text)
{
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

// Text is in the system's ANSI code page, which may be double-byte (932, 936, 949, 950): there a
// character's second byte can be any byte from 0x40 on, the backslash among them. The searches
// walk by characters, as the system splits them, so a second byte is never taken for the single
// character searched. IsDBCSLeadByte, unlike CharNextA, is kernel32's and safe at attach.
inline const char* NextChar(const char* text)
{
    return IsDBCSLeadByte(static_cast<BYTE>(*text)) && text[1] != '\0' ? text + 2 : text + 1;
}

// The first (FindChar) or last (FindLastChar) occurrence of the single-byte character c in text,
// or null.
inline const char* FindChar(const char* text, char c)
{
    for (; *text != '\0'; text = NextChar(text)) {
        if (*text == c)
            return text;
    }
    return nullptr;
}

inline const char* FindLastChar(const char* text, char c)
{
    const char* found = nullptr;
    for (; *text != '\0'; text = NextChar(text)) {
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
