// TFrm_Main: DefragShell's main window.
//
// main_window.cpp      creation from the control table, the volume list, buttons, jobs,
//                      notifications, dragging, closing
// main_window_map.cpp  the map panel: cell painting, cell and file clicks, Label1
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/cluster_map.h"
#include "model/file_list.h"
#include "model/job_buttons.h"
#include "model/job_runner.h"
#include "win32/engine_binding.h"

namespace shell::win32 {

// Private notification message: WM_APP + code (84..87), wParam the job id. Sent
// synchronously by the job and polling threads.
inline constexpr UINT kNoticeBase = WM_APP;
// Posted once the window is shown: runs the administrator check.
inline constexpr UINT kCheckAdministrator = WM_APP + 100;

class MainWindow {
 public:
  // Creates the window and its controls and shows it. Main thread.
  static MainWindow* Create(HINSTANCE instance);

  HWND Handle() const { return window_; }

 private:
  MainWindow() = default;
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PanelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK MapProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  void FillVolumeList();
  void OnShown();
  void OnCommand(const std::string& name);
  void OnListClick(const NMITEMACTIVATE& click);
  void OnTreeClick();
  void OnNotice(int code, int job);
  bool Busy() const { return buttons_->Busy(); }
  void Apply(const ButtonStep& step);
  void PaintButtons();
  void ShowProgress(bool show);
  void SetStatusLabels(const std::string& state, const std::string& cluster, const std::string& file);
  void SetProgressWidth(int width);
  std::string DriveLetterString() const;
  void Message(const char* text) const;
  void OpenHelp() const;

  // main_window_map.cpp
  void CreateMapCanvas();
  void PaintCell(int index, int picture);
  void ResetMap();
  void RepaintMap();
  void OnMapPress(int x, int y);
  void OnRowClick();
  void HideDetails();
  void ShowDetails(const std::string& text);
  void PaintMapPanel(HDC dc);

  HWND window_ = nullptr;
  std::map<std::string, HWND> controls_;
  std::map<int, std::string> ids_;
  HWND list_ = nullptr;
  HWND tree_ = nullptr;
  HWND map_ = nullptr;
  bool dragging_ = false;
  POINT dragPoint_{};
  MapCells cells_;
  std::vector<FileNode> files_;
  HBITMAP canvas_ = nullptr;      // map background with the cells painted in
  std::uint32_t* canvasBits_ = nullptr;
  EngineBinding engine_;
  std::unique_ptr<JobRunner> runner_;
  std::unique_ptr<JobButtons> buttons_;   // the job state the buttons paint
  std::string programFolder_;     // ends with '\'
};

// The one main window of the program (set by Create); its window procedures find it here.
inline MainWindow* gMain = nullptr;

}  // namespace shell::win32
