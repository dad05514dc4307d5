// The system's message display on Windows: a modal MessageBoxA with an OK button.
#include <windows.h>

#include "platform/message_box.h"

namespace platform {

void ShowMessageWithSystem(const char* text, const char* title) {
  MessageBoxA(nullptr, text != nullptr ? text : "", title, MB_OK);
}

}  // namespace platform
