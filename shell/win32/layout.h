// The control tables of DefragShell's windows: every control's name, parent, position,
// size and picture in one place, read by the code that creates the controls.
#pragma once

#include <windows.h>

namespace shell::win32 {

// The windows' colours: the side column's background and the text ink.
inline constexpr COLORREF kSide = RGB(0xEE, 0xF2, 0xF7);
inline constexpr COLORREF kInk = RGB(0x1B, 0x2B, 0x40);

enum class Kind { kPicture, kImageButton, kTextButton, kLabel, kPanel, kListView, kTreeView, kMap };

struct ControlSpec {
  const char* name;
  Kind kind;
  const char* parent;   // nullptr: the window itself
  int x, y, width, height;
  const char* picture;  // normal picture (JPG resource), or the text of a text button
  const char* highlighted;
};

// TFrm_Main: client area 850 x 610 at (249, 241), rounded by a region (0,0)-(851,611)
// with 16 x 16 corners. The background picture "img6" is the window's own painting.
inline constexpr int kMainWidth = 850;
inline constexpr int kMainHeight = 610;
inline constexpr int kMainLeft = 249;
inline constexpr int kMainTop = 241;

inline constexpr ControlSpec kMainControls[] = {
    {"CloseBtn", Kind::kImageButton, nullptr, 803, 0, 27, 18, "CloseBtn1", "CloseBtn"},
    {"MinBtn", Kind::kImageButton, nullptr, 775, 0, 27, 18, "MinBtn1", "MinBtn"},
    {"BtnAnalyze", Kind::kImageButton, nullptr, 21, 100, 179, 49, "BtnAnalyze1", "BtnAnalyze"},
    {"BtnDeframent", Kind::kImageButton, nullptr, 21, 156, 179, 49, "BtnDeframent1", "BtnDeframent"},
    {"BtnAdvanced", Kind::kImageButton, nullptr, 21, 212, 179, 49, "BtnAdvanced1", "BtnAdvanced"},
    {"MainList", Kind::kListView, nullptr, 217, 78, 615, 144, nullptr, nullptr},
    {"FSendPanel", Kind::kPanel, nullptr, 225, 235, 602, 340, nullptr, nullptr},
    {"DMSizePalen", Kind::kMap, "FSendPanel", 0, 0, 602, 271, "Image1", nullptr},
    {"LogLabel", Kind::kLabel, "DMSizePalen", 0, 4, 602, 16, nullptr, nullptr},
    {"Label1", Kind::kLabel, "DMSizePalen", 1, 54, 0, 0, nullptr, nullptr},
    {"clusterLabel", Kind::kLabel, "FSendPanel", 0, 272, 602, 16, nullptr, nullptr},
    {"PathLabel", Kind::kLabel, "FSendPanel", 0, 291, 602, 16, nullptr, nullptr},
    {"ImageBG", Kind::kPicture, "FSendPanel", 0, 313, 602, 24, "ImageBG", nullptr},
    {"ImageZJ", Kind::kPicture, "FSendPanel", 1, 314, 0, 22, "ImageZJ", nullptr},
    {"FileTreeView", Kind::kTreeView, nullptr, 23, 340, 174, 231, nullptr, nullptr},
    {"SettingBtn", Kind::kTextButton, nullptr, 28, 591, 48, 14, "Settings", nullptr},
    {"HelpBtn", Kind::kTextButton, nullptr, 94, 591, 30, 14, "Help", nullptr},
    {"AboutBtn", Kind::kTextButton, nullptr, 148, 591, 36, 14, "About", nullptr},
    {"ReportBtn", Kind::kTextButton, nullptr, 360, 587, 40, 14, "Report", nullptr},
    {"Image2", Kind::kPicture, nullptr, 11, 591, 14, 14, "Image2", nullptr},
    {"img3", Kind::kPicture, nullptr, 76, 591, 14, 14, "img3", nullptr},
    {"img4", Kind::kPicture, nullptr, 128, 591, 14, 14, "img4", nullptr},
};

// TFrm_Report, the defragmentation chooser: 500 x 340, region (0,0)-(502,342).
inline constexpr int kChooserWidth = 500;
inline constexpr int kChooserHeight = 340;
inline constexpr ControlSpec kChooserControls[] = {
    {"BtnQuickD", Kind::kImageButton, nullptr, 12, 35, 478, 145, "BtnQuickD1", "BtnQuickD"},
    {"BtnDepthD", Kind::kImageButton, nullptr, 12, 184, 478, 145, "BtnDepthD1", "BtnDepthD"},
    {"CloseBtn", Kind::kImageButton, nullptr, 450, 0, 27, 18, "CloseBtn1", "CloseBtn"},
};

// Volume list columns: "Drive" takes the list width minus the others minus 20.
inline constexpr int kSizeColumn = 120;
inline constexpr int kFreeColumn = 110;
inline constexpr int kTypeColumn = 200;

// TFrm_About: the picture fills the client area; BtnOK closes it.
inline constexpr int kAboutWidth = 493;
inline constexpr int kAboutHeight = 350;
inline constexpr ControlSpec kAboutControls[] = {
    {"BtnOK", Kind::kImageButton, nullptr, 340, 266, 88, 23, "BtnOK1", "BtnOK"},
};

// TFrm_Login: the splash, one picture and no controls.
inline constexpr int kLoginWidth = 452;
inline constexpr int kLoginHeight = 252;

}  // namespace shell::win32
