// The map display's model: cell geometry, the cell pictures, the colour copy, which
// cells a repaint must touch, and the selected cell.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "vexa/vexa.h"

namespace shell {

inline constexpr int kMapColumns = 50;
inline constexpr int kMapRows = 20;
inline constexpr int kCellSize = 10;   // pixels of a cell picture, each way
inline constexpr int kCellPitch = 12;  // distance between cell origins
inline constexpr int kGridLeft = 2;    // first cell's origin in the map panel
inline constexpr int kGridTop = 26;
// Cell picture 6: drawn on the selected cell, never a colour code of the engine.
inline constexpr int kSelectionMark = 6;
inline constexpr int kCellPictures = 7;

struct CellOrigin {
  int x;
  int y;
};

// Top-left corner of cell `index` (0..999) in the map panel.
CellOrigin CellPosition(int index);

// The cell under panel point (x, y), or -1 for a gap between cells or a point outside
// the grid.
int CellAt(int x, int y);

// One cell picture as 10 x 10 pixels, rows from the top, each 0xAARRGGBB; alpha 0 is
// transparent (the map background shows through). Codes outside 0..6 give picture 0.
using CellPicture = std::array<std::uint32_t, kCellSize * kCellSize>;
CellPicture MakeCellPicture(int code);

// The engine's 1000 colour codes for one volume, as DefragShell keeps them.
using ColorCopy = std::array<std::int32_t, VEXA_MAP_CELLS>;

// What the map shows: per cell the colour code whose picture it holds (its tag), and
// which cell carries the selection mark. Main thread only.
class MapCells {
 public:
  MapCells();

  // Every cell back to picture 0, no selection.
  void Reset();

  // Brings every tag to `copy` and returns the indexes of the cells that changed, in
  // order; those cells must be repainted with their new picture. A changed selected cell
  // loses its mark (it shows its new colour) but stays the selected cell.
  std::vector<int> Apply(const ColorCopy& copy);

  // Colour code shown by cell `index`.
  std::int32_t Code(int index) const { return tags_[static_cast<std::size_t>(index)]; }

  // The picture cell `index` must show now: the mark when selected and not since
  // repainted, else its colour code's picture.
  int Picture(int index) const;

  // A click on cell `index` while no job runs. Returns false (nothing to do) for a blank
  // cell. Otherwise the click selects it: `previous` receives the formerly selected cell
  // (or -1), whose own picture must be restored; the clicked cell gets the mark.
  bool Select(int index, int* previous);

  int Selected() const { return selected_; }

 private:
  std::array<std::int32_t, VEXA_MAP_CELLS> tags_{};
  int selected_ = -1;
  bool markShown_ = false;
};

}  // namespace shell
