// Output and formatting without a C runtime: shellfind runs on every Windows the module runs on,
// and the first Windows 95 has no msvcrt.dll. The formats are printf's %s %c %d %u %x %X, with
// an optional zero flag, width and l; the output is cut, never overrun, at the buffer's size.
#pragma once

#include <stdarg.h>
#include <stddef.h>

void FormatTextV(char* text, size_t size, const char* format, va_list arguments);
void FormatText(char* text, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// To standard output, or to standard error, as the text is (no newline added).
// After CaptureOutput, both are appended to text instead (size bytes, always terminated, cut when
// full): the windowed build has no standard handles, and shows what the doctor found.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
void PrintError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void CaptureOutput(char* text, size_t size);
