// Test seams for driving a dialog without its modal loop: the test builds the dialog, pumps the
// window system (PumpMessages) while it looks at the controls, and tears the dialog down.
#pragma once

#include "platform/ui/dialog.h"

namespace velmora::ui::testing {

// Builds the dialog and its controls, runs WM_INITDIALOG and shows it, as DoModal does before its
// loop. False when the template cannot be loaded.
bool StartDialog(CDialog& dialog);

// True once EndDialog was called; the result it was given.
bool DialogEnded(const CDialog& dialog);
int DialogResult(const CDialog& dialog);

// Destroys the dialog's windows, as DoModal does after its loop.
void FinishDialog(CDialog& dialog);

} // namespace velmora::ui::testing
