// The volume selection dialog (ScheduleDlg with SelVolumeList and MyCheckBox).
#pragma once

#include <windows.h>

#include <string>

namespace vexa {

// Shows the dialog modally over `owner`. True when the user pressed "Next" with at
// least one volume ticked; *letters then holds the ticked letters in row order.
// Cancel leaves *letters as it was.
bool RunVolumeSelection(HWND owner, std::string* letters);

}  // namespace vexa
