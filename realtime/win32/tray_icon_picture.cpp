// Drawing the tray icon's pictures into 32-bit DIBs with alpha.
#include "tray_icon_picture.h"

#include <cstdint>
#include <vector>

namespace realtime {
namespace {

constexpr std::uint32_t kUsed = 0xFF2F6FD6;    // blue: files in one piece
constexpr std::uint32_t kFree = 0xFFE4E8EE;    // pale grey: free space
constexpr std::uint32_t kMoving = 0xFF3CB44B;  // green: being defragmented
constexpr std::uint32_t kEdge = 0xFF1C2A3E;    // dark outline, visible on light and dark bars

// Which blocks (row-major, 4 x 4) are free, and which move while busy.
constexpr char kIdleMap[] = "UUUU" "UUUU" "UUFF" "FFFF";
constexpr char kBusyMap[] = "UUUU" "UUMM" "MFFF" "FFFF";

struct GdiBitmap {
  HBITMAP handle = nullptr;
  ~GdiBitmap() {
    if (handle != nullptr) ::DeleteObject(handle);
  }
};

}  // namespace

HICON MakeTrayIcon(bool busy) {
  const int size = ::GetSystemMetrics(SM_CXSMICON) > 0 ? ::GetSystemMetrics(SM_CXSMICON) : 16;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;  // top-down rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  GdiBitmap colour;
  colour.handle = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (colour.handle == nullptr || bits == nullptr) return nullptr;

  auto* pixels = static_cast<std::uint32_t*>(bits);
  for (int i = 0; i < size * size; ++i) pixels[i] = 0;  // transparent
  const char* map = busy ? kBusyMap : kIdleMap;
  // Each block is a square with a one-pixel outline; blocks share their outlines.
  const int block = (size - 1) / 4;
  const int origin = (size - (block * 4 + 1)) / 2;
  for (int row = 0; row < 4; ++row) {
    for (int column = 0; column < 4; ++column) {
      const char kind = map[row * 4 + column];
      const std::uint32_t fill = kind == 'U' ? kUsed : kind == 'M' ? kMoving : kFree;
      for (int y = 0; y <= block; ++y) {
        for (int x = 0; x <= block; ++x) {
          const bool edge = x == 0 || y == 0 || x == block || y == block;
          const int px = origin + column * block + x;
          const int py = origin + row * block + y;
          pixels[py * size + px] = edge ? kEdge : fill;
        }
      }
    }
  }

  // The AND mask, for displays that ignore alpha: 1 where the picture is transparent.
  // Monochrome rows are padded to 16 bits.
  const int stride = (size + 15) / 16 * 2;
  std::vector<unsigned char> maskBits(static_cast<std::size_t>(stride) * size, 0);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if (pixels[y * size + x] == 0) maskBits[y * stride + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
    }
  }
  GdiBitmap mask;
  mask.handle = ::CreateBitmap(size, size, 1, 1, maskBits.data());
  if (mask.handle == nullptr) return nullptr;

  ICONINFO icon = {};
  icon.fIcon = TRUE;
  icon.hbmColor = colour.handle;
  icon.hbmMask = mask.handle;
  return ::CreateIconIndirect(&icon);
}

}  // namespace realtime
