// TFrm_Main's map panel: the 1000 cells painted into a canvas over the map background,
// the row click, the cell click with its file list, the file click and Label1.

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "vexa/vexa.h"
#include "win32/controls.h"
#include "win32/layout.h"
#include "win32/jpeg_picture.h"
#include "win32/main_window.h"

namespace shell::win32 {
namespace {

constexpr int kCanvasWidth = 602;
constexpr int kCanvasHeight = 271;

}  // namespace

void MainWindow::CreateMapCanvas() {
  BITMAPINFO header{};
  header.bmiHeader.biSize = sizeof header.bmiHeader;
  header.bmiHeader.biWidth = kCanvasWidth;
  header.bmiHeader.biHeight = -kCanvasHeight;
  header.bmiHeader.biPlanes = 1;
  header.bmiHeader.biBitCount = 32;
  header.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  canvas_ = ::CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
  canvasBits_ = static_cast<std::uint32_t*>(bits);
  std::fill(canvasBits_, canvasBits_ + kCanvasWidth * kCanvasHeight, 0x00FFFFFFu);
  HDC screen = ::GetDC(nullptr);
  HDC target = ::CreateCompatibleDC(screen);
  HDC source = ::CreateCompatibleDC(screen);
  HGDIOBJ oldTarget = ::SelectObject(target, canvas_);
  HGDIOBJ oldSource = ::SelectObject(source, Picture("Image1"));
  ::BitBlt(target, 0, 0, kCanvasWidth, 266, source, 0, 0, SRCCOPY);
  ::SelectObject(source, oldSource);
  ::SelectObject(target, oldTarget);
  ::DeleteDC(source);
  ::DeleteDC(target);
  ::ReleaseDC(nullptr, screen);
  ::GdiFlush();
}

void MainWindow::PaintCell(int index, int picture) {
  const CellOrigin origin = CellPosition(index);
  const CellPicture pixels = MakeCellPicture(picture);
  // Transparent pixels show white, the ground of the map's cell grid.
  for (int row = 0; row < kCellSize; ++row) {
    for (int column = 0; column < kCellSize; ++column) {
      const std::uint32_t argb = pixels[static_cast<std::size_t>(row * kCellSize + column)];
      canvasBits_[(origin.y + row) * kCanvasWidth + origin.x + column] = (argb >> 24) == 0 ? 0x00FFFFFFu : (argb & 0x00FFFFFFu);
    }
  }
  RECT cell{origin.x, origin.y, origin.x + kCellSize, origin.y + kCellSize};
  ::InvalidateRect(map_, &cell, FALSE);
}

void MainWindow::ResetMap() {
  cells_.Reset();
  for (int i = 0; i < VEXA_MAP_CELLS; ++i) PaintCell(i, 0);
}

void MainWindow::RepaintMap() {
  const Display display = runner_->Snapshot();
  for (int index : cells_.Apply(display.colors)) PaintCell(index, cells_.Picture(index));
  ::UpdateWindow(map_);
}

void MainWindow::PaintMapPanel(HDC dc) {
  HDC source = ::CreateCompatibleDC(dc);
  HGDIOBJ old = ::SelectObject(source, canvas_);
  ::BitBlt(dc, 0, 0, kCanvasWidth, kCanvasHeight, source, 0, 0, SRCCOPY);
  ::SelectObject(source, old);
  ::DeleteDC(source);
}

void MainWindow::HideDetails() { ::ShowWindow(controls_.at("Label1"), SW_HIDE); }

void MainWindow::ShowDetails(const std::string& text) {
  HWND label = controls_.at("Label1");
  HDC dc = ::GetDC(label);
  HGDIOBJ old = ::SelectObject(dc, LabelFont());
  RECT size{0, 0, 0, 0};
  ::DrawTextA(dc, text.c_str(), -1, &size, DT_CALCRECT | DT_NOPREFIX);
  ::SelectObject(dc, old);
  ::ReleaseDC(label, dc);
  ::SetWindowTextA(label, text.c_str());
  ::SetWindowPos(label, HWND_TOP, 1, 54, size.right + 2, size.bottom + 2, SWP_NOACTIVATE);
  ::ShowWindow(label, SW_SHOW);
}

void MainWindow::OnRowClick() {
  if (Busy()) return;
  const int row = static_cast<int>(::SendMessageA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0) return;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  ::SendMessageA(list_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  const char letter = static_cast<char>(item.lParam);
  runner_->SetDrive(letter);
  runner_->RefreshColors(letter);
  const std::string text = std::string("Check out the data information in ") + letter + " drive";
  ::SetWindowTextA(controls_.at("LogLabel"), text.c_str());
}

void MainWindow::OnMapPress(int x, int y) {
  HideDetails();
  const int index = CellAt(x, y);
  if (index < 0 || Busy()) return;
  int previous = -1;
  if (!cells_.Select(index, &previous)) return;
  if (previous >= 0) PaintCell(previous, cells_.Picture(previous));
  const char drive = runner_->Snapshot().drive;
  const std::int32_t written = DLL_GetVolumeSectorFilesList(drive, index);
  ::SendMessageA(tree_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  files_ = CellFiles(written, [this] {
    std::ifstream file(programFolder_ + "vexa\\FileList.txt", std::ios::binary);
    std::ostringstream text;
    if (file) text << file.rdbuf();
    return text.str();
  });
  for (std::size_t i = 0; i < files_.size(); ++i) {
    TVINSERTSTRUCTA insert{};
    insert.hParent = TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<char*>(files_[i].name.c_str());
    insert.item.lParam = static_cast<LPARAM>(i);
    ::SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert));
  }
  PaintCell(index, cells_.Picture(index));
  ::UpdateWindow(map_);
}

void MainWindow::OnTreeClick() {
  TVHITTESTINFO hit{};
  ::GetCursorPos(&hit.pt);
  ::ScreenToClient(tree_, &hit.pt);
  auto node = reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (node == nullptr || (hit.flags & TVHT_ONITEM) == 0) {
    node = reinterpret_cast<HTREEITEM>(::SendMessageA(tree_, TVM_GETNEXTITEM, TVGN_CARET, 0));
  }
  if (node == nullptr) return;
  TVITEMA item{};
  item.mask = TVIF_PARAM;
  item.hItem = node;
  ::SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  const auto index = static_cast<std::size_t>(item.lParam);
  if (index >= files_.size()) return;
  const FileNode& chosen = files_[index];
  const VexaFileDetails* record = DLL_GetVolumeSectorFileInfo(chosen.path.c_str());
  VexaFileDetails details;
  if (record != nullptr) std::memcpy(&details, record, sizeof details);
  ShowDetails(DetailsText(chosen, record != nullptr ? &details : nullptr));
}

LRESULT CALLBACK MainWindow::MapProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MainWindow* self = gMain;
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = ::BeginPaint(window, &paint);
      if (self != nullptr && self->canvas_ != nullptr) self->PaintMapPanel(dc);
      ::EndPaint(window, &paint);
      return 0;
    }
    case WM_SETCURSOR: {
      POINT point;
      ::GetCursorPos(&point);
      ::ScreenToClient(window, &point);
      if (LOWORD(lParam) == HTCLIENT && CellAt(point.x, point.y) >= 0) {
        ::SetCursor(::LoadCursor(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      if (self != nullptr) self->OnMapPress(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_COMMAND:
      return ::SendMessageA(self->window_, message, wParam, lParam);
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const bool details = reinterpret_cast<HWND>(lParam) == self->controls_.at("Label1");
      static HBRUSH side = ::CreateSolidBrush(kSide);
      ::SetTextColor(dc, kInk);
      ::SetBkColor(dc, details ? RGB(255, 255, 255) : kSide);
      return reinterpret_cast<LRESULT>(details ? ::GetStockObject(WHITE_BRUSH) : side);
    }
    default:
      break;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace shell::win32
