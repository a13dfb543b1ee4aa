// The checker's entry point. The checker links no C runtime, so nothing runs before this:
// no global constructors, no command line parsing. Everything the run needs is built here.
#include <windows.h>

#include "check_run.h"
#include "checker_dialog_win.h"
#include "platform_win.h"
#include "resource.h"

extern "C" __attribute__((noreturn, force_align_arg_pointer)) void WinMainCRTStartup() {
  Win32Platform platform;
  CheckRun run(platform);
  CheckerDialogContext context{&run, Win32MessageSink(nullptr, &platform), false};
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_CHECKER), nullptr,
                  CheckerDialogProc, reinterpret_cast<LPARAM>(&context));
  // The outcome has been shown to the user; the exit code says nothing about it.
  ExitProcess(0);
}
