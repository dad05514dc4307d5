// The console seam: whether an output stream is a terminal, and how wide it is.
#pragma once

namespace platform {

enum class ConsoleStream { kOutput, kError };

// True when the stream is an interactive terminal (a console window on Windows), where
// a status line can be rewritten in place. Any thread.
bool IsTerminal(ConsoleStream stream);

// Columns of the terminal behind the stream; 80 when it is no terminal or does not say.
int TerminalColumns(ConsoleStream stream);

}  // namespace platform
