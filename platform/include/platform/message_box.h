// The message seam: a modal message with an OK button, or whatever the front end makes of it.
#pragma once

namespace platform {

// Receives the text of every message the engine shows; registered by a front end that
// has no windows (the command-line program prints it).
using MessageHandler = void (*)(const char* text);

// Shows `text` (single-byte, NUL-terminated) to the user and returns when it has been
// seen: the registered handler gets it when there is one; otherwise a modal message box
// with an OK button titled `title` (MessageBoxA, no owner) on Windows, and a line on the
// standard error stream elsewhere, so no message is ever lost. `title` may be null.
// Any thread; a message box blocks the calling thread until it is closed.
void ShowMessage(const char* text, const char* title);

// Registers the handler ShowMessage hands texts to; null removes it. The handler is
// called on the thread that shows the message and must not keep the pointer.
// Any thread.
void SetMessageHandler(MessageHandler handler);

// The system's own message display, bypassing any handler (what ShowMessage does when
// none is registered).
void ShowMessageWithSystem(const char* text, const char* title);

}  // namespace platform
