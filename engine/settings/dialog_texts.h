// The texts the engine's dialogs show in message boxes, and the way a model hands a
// message to its view.
#pragma once

#include <functional>

namespace vexa {

inline constexpr char kProductTitle[] = "Tolvane Disk Defrag";

inline constexpr char kFailCreateKey[] = "Fail to create a registry key.";
inline constexpr char kFailWriteKey[] = "Fail to write a registry key.";
inline constexpr char kFailDeleteKey[] = "Fail to delete a registry key.";
inline constexpr char kFailCreateSchedule[] = "Fail to create schedule.";
inline constexpr char kFailEditSchedule[] = "Fail to edit schedule.";
inline constexpr char kFailDeleteSchedule[] = "Fail to delete schedule.";
inline constexpr char kSelectVolume[] = "Please select volume.";
inline constexpr char kRealTimeNotStarted[] = "VEXAAUTO.exe could not be started.";

// Shows `text` in a modal message box with an OK button and returns when it is closed;
// `title` null means the system's default caption. The dialog views own the box.
using Notify = std::function<void(const char* text, const char* title)>;

}  // namespace vexa
