// ShowMessage: hands the text to the front end's handler, or to the system's display
// in message_box_win.cpp or message_box_posix.cpp.
#include "platform/message_box.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<MessageHandler> gHandler{nullptr};

}  // namespace

void SetMessageHandler(MessageHandler handler) { gHandler.store(handler, std::memory_order_release); }

void ShowMessage(const char* text, const char* title) {
  if (text == nullptr) text = "";
  if (const MessageHandler handler = gHandler.load(std::memory_order_acquire); handler != nullptr) {
    handler(text);
  } else {
    ShowMessageWithSystem(text, title);
  }
}

}  // namespace platform
