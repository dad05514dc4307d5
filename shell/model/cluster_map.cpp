// The map display's model.
#include "model/cluster_map.h"

namespace shell {
namespace {

constexpr std::uint32_t kColours[] = {
    0x00000000,  // 0 blank: transparent
    0xFFE60000,  // 1 red
    0xFF2E94BA,  // 2 blue
    0xFF919191,  // 3 grey
    0xFF31B346,  // 4 green
    0xFFFF7200,  // 5 orange
};

// The 22 see-through pixels inside the selection mark's white interior (row, column),
// scattered so the mark reads as a framed, speckled square over any background.
constexpr int kMarkHoles[22][2] = {
    {1, 2}, {1, 6}, {2, 4}, {2, 8}, {3, 1}, {3, 5}, {3, 7}, {4, 3}, {4, 6}, {5, 2}, {5, 8},
    {6, 4}, {6, 7}, {7, 1}, {7, 3}, {7, 6}, {8, 2}, {8, 5}, {8, 8}, {2, 1}, {5, 5}, {6, 1},
};

}  // namespace

CellOrigin CellPosition(int index) {
  return {kGridLeft + kCellPitch * (index % kMapColumns), kGridTop + kCellPitch * (index / kMapColumns)};
}

int CellAt(int x, int y) {
  if (x < kGridLeft || y < kGridTop) return -1;
  const int column = (x - kGridLeft) / kCellPitch;
  const int row = (y - kGridTop) / kCellPitch;
  if (column >= kMapColumns || row >= kMapRows) return -1;
  if ((x - kGridLeft) % kCellPitch >= kCellSize || (y - kGridTop) % kCellPitch >= kCellSize) return -1;
  return row * kMapColumns + column;
}

CellPicture MakeCellPicture(int code) {
  CellPicture picture{};
  if (code == kSelectionMark) {
    for (int row = 0; row < kCellSize; ++row) {
      for (int column = 0; column < kCellSize; ++column) {
        const bool frame = row == 0 || column == 0 || row == kCellSize - 1 || column == kCellSize - 1;
        picture[static_cast<std::size_t>(row * kCellSize + column)] = frame ? kColours[1] : 0xFFFFFFFF;
      }
    }
    for (const auto& hole : kMarkHoles) picture[static_cast<std::size_t>(hole[0] * kCellSize + hole[1])] = 0;
    return picture;
  }
  const std::uint32_t colour = code >= 0 && code < 6 ? kColours[code] : kColours[0];
  picture.fill(colour);
  return picture;
}

MapCells::MapCells() { Reset(); }

void MapCells::Reset() {
  tags_.fill(0);
  selected_ = -1;
  markShown_ = false;
}

std::vector<int> MapCells::Apply(const ColorCopy& copy) {
  std::vector<int> changed;
  for (int i = 0; i < VEXA_MAP_CELLS; ++i) {
    auto& tag = tags_[static_cast<std::size_t>(i)];
    if (tag == copy[static_cast<std::size_t>(i)]) continue;
    tag = copy[static_cast<std::size_t>(i)];
    if (i == selected_) markShown_ = false;
    changed.push_back(i);
  }
  return changed;
}

int MapCells::Picture(int index) const {
  if (index == selected_ && markShown_) return kSelectionMark;
  const std::int32_t code = Code(index);
  return code >= 0 && code < kSelectionMark ? code : 0;
}

bool MapCells::Select(int index, int* previous) {
  *previous = -1;
  if (index < 0 || index >= VEXA_MAP_CELLS || Code(index) == 0) return false;
  *previous = selected_ != index ? selected_ : -1;
  selected_ = index;
  markShown_ = true;
  return true;
}

}  // namespace shell
