#include "checker_dialog_win.h"

#include "platform_win.h"
#include "resource.h"
#include "texts.h"

namespace {

// The dialog is modal and the only one of its process, so its context can live here
// between messages; it is set from WM_INITDIALOG's parameter before anything uses it.
CheckerDialogContext* context;

void SetControlText(HWND dialog, int id, const char* text) {
  // The texts are code page 932 whatever the system's code page is, a name that it cannot
  // write enclosed in UTF-8 (a stored path of the UTF-8 extension); the window is Unicode.
  wchar_t* wide = NewWideText(text, nullptr);
  SetDlgItemTextW(dialog, id, wide != nullptr ? wide : L"");
  delete[] wide;
}

void ArmTimer(HWND dialog, UINT interval) { SetTimer(dialog, IDT_CHECK, interval, nullptr); }

void EndRun(HWND dialog) {
  context->run->CloseCurrentFile();
  EndDialog(dialog, 0);
}

void Tick(HWND dialog) {
  // One-shot: the timer is armed again only when another step is wanted, so no tick can
  // arrive while a step or a message box is under way.
  KillTimer(dialog, IDT_CHECK);
  if (context->loadFailed) {
    EndRun(dialog);  // the reason has been shown while loading
    return;
  }
  char line1[kProgressTextSize];
  char line2[kProgressTextSize];
  context->run->MakeProgressTexts(line1, line2);
  SetControlText(dialog, IDC_PROGRESS1, line1);
  SetControlText(dialog, IDC_PROGRESS2, line2);

  int result = context->run->CheckStep(context->messages);
  if (result == kCheckMore) {
    ArmTimer(dialog, 1);
    return;
  }
  if (result == kCheckAllIntact) {
    SetControlText(dialog, IDC_HEADLINE, "");
    SetControlText(dialog, IDC_PROGRESS1, kTextCheckComplete);
    SetControlText(dialog, IDC_PROGRESS2, "");
    context->messages.Show(kTextAllIntact, kTextCheckEndTitle, kMessagePlain);
  }
  EndRun(dialog);  // a missing or broken file has been reported by the step
}

// Returns true when the user chose to stop; the run has then ended.
bool AskToStop(HWND dialog) {
  KillTimer(dialog, IDT_CHECK);
  if (context->messages.Show(kTextStopQuestion, kTextStopTitle, kMessageQuestion)) {
    EndRun(dialog);
    return true;
  }
  // Go on where the run was: the current file stays open and its digest continues.
  ArmTimer(dialog, 1);
  return false;
}

}  // namespace

INT_PTR CALLBACK CheckerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      context = reinterpret_cast<CheckerDialogContext*>(lParam);
      context->messages.SetOwner(dialog);
      // Any message shown here appears before the dialog does.
      context->loadFailed = !context->run->LoadCheckData(context->messages);
      // Armed after a failed load too: the first tick then ends the dialog.
      ArmTimer(dialog, 0);
      return TRUE;  // the default focus, the stop button
    }
    case WM_TIMER:
      Tick(dialog);
      return TRUE;
    case WM_COMMAND:
      // Only the stop button counts. The cancel command that Escape or an unhandled close
      // request produces is swallowed, so neither can end the run unasked.
      if (LOWORD(wParam) == IDC_STOP) return AskToStop(dialog) ? TRUE : FALSE;
      return TRUE;
    case WM_SYSCOMMAND:
      // The close box, Alt+F4 and the system menu's close item; the low four bits are the
      // system's own, so they are masked off. Declined, the request goes on to the default
      // handling, which turns it into a cancel command that is swallowed above.
      if ((wParam & 0xFFF0) == SC_CLOSE) return AskToStop(dialog) ? TRUE : FALSE;
      return FALSE;
    default:
      return FALSE;
  }
}
