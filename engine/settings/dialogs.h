// The engine's modal dialogs as DLL_Options and DLL_Advance show them (Windows; the
// views in *_win.cpp). Each runs on the calling thread and returns when its dialog has
// closed and what the user confirmed is applied.
#pragma once

namespace vexa {

void ShowOptionsDialog();
void ShowAdvanceDialog();

}  // namespace vexa
