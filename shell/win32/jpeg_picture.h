// Pictures of DefragShell: JPEG resources of type "JPG" decoded with libjpeg.
#pragma once

#include <windows.h>

namespace shell::win32 {

// Decodes the JPG resource `name` of this program into a new 32-bit top-down DIB
// section; null when the resource is missing or not a JPEG. The caller owns the bitmap
// (DeleteObject). Main thread.
HBITMAP LoadJpegResource(const char* name);

// The same, cached: each name is decoded once and kept for the program's life; the
// cache owns the bitmaps. Main thread.
HBITMAP Picture(const char* name);

// Copies the picture `name` (cached) to `dc` at the origin, `width` x `height` pixels.
// Main thread, inside a paint.
void DrawPicture(HDC dc, const char* name, int width, int height);

}  // namespace shell::win32
