// The DLL entry point of a Windows library, without <windows.h>: calls `onLoad` when
// the library is attached to a process and `onUnload` when it is detached.
#pragma once

#ifdef _WIN32
#define VEXA_DEFINE_DLL_MAIN(onLoad, onUnload)                                              \
  extern "C" int __stdcall DllMain(void* /*instance*/, unsigned long reason, void* /*r*/) { \
    constexpr unsigned long kProcessDetach = 0;                                             \
    constexpr unsigned long kProcessAttach = 1;                                             \
    if (reason == kProcessAttach) onLoad();                                                 \
    if (reason == kProcessDetach) onUnload();                                               \
    return 1;                                                                               \
  }
#endif
