// The engine's exclusion state: the lists the walks consult and the three texts the
// Options dialog edits, loaded from "preset.ini" at start-up and rewritten after the
// dialog is confirmed.
//
// The lists are published as an immutable set behind a shared pointer. A walk takes the
// current set when it starts a volume (CurrentExclusions) and reads only that set; a
// rewrite builds a whole new set and swaps the pointer, so a set a walk holds is never
// changed or freed under it, and the rewrite never waits for a walk. The texts belong to
// the front end's thread (load, dialog, rewrite); a mutex keeps stray callers safe.
#pragma once

#include <memory>
#include <string>

#include "settings/exclusion_lists.h"
#include "settings/preset_file.h"

namespace vexa {

// Start-up: builds the lists from the built-in names and "preset.ini" in
// `workingFolder` (a folder path ending with its separator, or empty for the current
// folder) and sets the three texts. A missing or unreadable file leaves the built-in
// names alone in force and the texts empty. Remembers the folder for the rewrite.
// Never throws. Thread: the one that loads the engine.
void LoadExclusions(const std::string& workingFolder) noexcept;

// After a confirmed Options dialog: forms "preset.ini" from the current texts (spaces
// removed, split at ";"), replaces the file in the working folder given at load, and
// publishes new lists built from the same entries. The texts themselves stay as the
// user typed them. The lists are published even when the file cannot be written; the
// previous file is then left as it was. Returns whether the file was written.
// Never throws. Thread: the front end's thread that runs the dialog.
[[nodiscard]] bool RewriteExclusions() noexcept;

// The lists in force, for one volume's walk: the caller keeps the returned set for as
// long as it reads it, and sees no later rewrite. Never null (before the first load it
// holds the built-in names). Any thread.
std::shared_ptr<const ExclusionLists> CurrentExclusions() noexcept;

// The three texts, copied (Options dialog data). Front end's thread.
ExclusionTexts GetExclusionTexts();
// Replaces the three texts (what the user typed, or the dialog's snapshot on Close).
// Front end's thread.
void SetExclusionTexts(const ExclusionTexts& texts);

}  // namespace vexa
