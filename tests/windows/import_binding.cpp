// Binds vexa.dll through its import library, as DefragShell does, and checks the binding.
//
// This program refers to every export of vexa/vexa.h, so it links only when the import
// library carries each one under the symbol a __stdcall caller asks for, and it starts only
// when the loader finds each one in vexa.dll by its plain name. Once running, it checks
// that calls through the binding reach the same library as calls through GetProcAddress:
// both give the same engine-owned records.
#define NOMINMAX
#include <windows.h>

#include <cstdio>

#include "vexa/vexa.h"

namespace {

using AnyFunction = void (*)(void);

struct Bound {
  const char* name;
  AnyFunction function;
};

const Bound kBound[] = {
#define VEXA_EXPORT_NAME(name) {#name, reinterpret_cast<AnyFunction>(&name)},
#include "vexa_exports.inc"
#undef VEXA_EXPORT_NAME
};

int gFailures = 0;

void Check(bool ok, const char* what, const char* name = "") {
  if (!ok) ++gFailures;
  std::printf("%s: %s%s\n", ok ? "PASS" : "FAIL", what, name);
}

template <typename F>
F Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<AnyFunction>(GetProcAddress(module, name)));
}

}  // namespace

int main() {
  const HMODULE module = GetModuleHandleA("vexa.dll");
  Check(module != nullptr, "vexa.dll was loaded with the program");
  if (module == nullptr) return 1;
  for (const Bound& b : kBound) {
    Check(b.function != nullptr && GetProcAddress(module, b.name) != nullptr, "bound and exported: ", b.name);
  }

  const auto status = Lookup<decltype(&DLL_GetWorkingStatus)>(module, "DLL_GetWorkingStatus");
  Check(status != nullptr && status() == DLL_GetWorkingStatus(),
        "DLL_GetWorkingStatus through the binding returns the library's own record");
  const auto colors = Lookup<decltype(&DLL_GetVolumeColorTable)>(module, "DLL_GetVolumeColorTable");
  Check(colors != nullptr && colors('Y') == DLL_GetVolumeColorTable('Y'),
        "DLL_GetVolumeColorTable through the binding returns the library's own table");
  const auto details = Lookup<decltype(&DLL_GetVolumeSectorFileInfo)>(module, "DLL_GetVolumeSectorFileInfo");
  char self[MAX_PATH + 1] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  Check(details != nullptr && details(self) != nullptr && details(self) == DLL_GetVolumeSectorFileInfo(self),
        "DLL_GetVolumeSectorFileInfo through the binding returns the library's own record");

  std::printf("import binding: %zu exports, %d failed\n", sizeof kBound / sizeof kBound[0], gFailures);
  return gFailures == 0 ? 0 : 1;
}
