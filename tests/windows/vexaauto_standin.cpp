// A stand-in for the real-time defragmenter VEXAAUTO.exe in the dialog tests: a
// windowless program that runs until it is ended.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Sleep(INFINITE);
  return 0;
}
