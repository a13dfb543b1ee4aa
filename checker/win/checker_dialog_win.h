// The checker's dialog: loads the check data when it opens, then checks the files in slices
// of steps, each bounded by time and ended early by the user's input, until the run ends or
// the user stops it.
#pragma once
#include <windows.h>

#include "check_run.h"
#include "platform_win.h"

// What the dialog works on; handed over as the dialog's creation parameter.
struct CheckerDialogContext {
  CheckRun* run;
  Win32MessageSink messages;  // its boxes are owned by the dialog once it exists
  bool loadFailed;
};

INT_PTR CALLBACK CheckerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
