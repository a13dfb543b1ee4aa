#include "checker_dialog_win.h"

#include "platform_win.h"
#include "resource.h"
#include "texts.h"

namespace {

// The dialog is modal and the only one of its process, so its context can live here
// between messages; it is set from WM_INITDIALOG's parameter before anything uses it.
CheckerDialogContext* context;

// Asks the dialog to run the next slice at once. A posted message is taken before the
// timer's, which the system delivers 10 to 15.6 ms after it is armed at the earliest: steps
// follow each other without that gap. KillTimer cannot take a posted message back, so every
// slice looks at `holding` first.
constexpr UINT kRunSlice = WM_APP + 1;

// How long one slice may run before the progress lines are shown again and the next slice is
// asked for: long enough that showing the lines (a repaint, under Wine a round trip to the X
// server) costs little beside the reading, short enough that they move ten times a second.
constexpr int kSliceMs = 100;
// How often a slice looks whether input or a message waits for the window: every step would
// cost more than reading small files does; a few milliseconds keep the stop button prompt.
constexpr int kLookMs = 4;

// True while the run must not step: one of the checker's boxes is up (its own message loop
// delivers the timer's ticks and the posted slices to the dialog too), or the run has ended.
bool holding;
// True while a kRunSlice is in the queue, so that no second one is posted beside it.
bool slicePosted;
// QueryPerformanceCounter counts per millisecond.
LONGLONG countsPerMs;

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

void SetControlText(HWND dialog, int id, const char* text) {
  // The texts are code page 932 whatever the system's code page is, a name that it cannot
  // write enclosed in UTF-8 (a stored path of the UTF-8 extension); the window is Unicode.
  wchar_t* wide = NewWideText(text, nullptr);
  SetDlgItemTextW(dialog, id, wide != nullptr ? wide : L"");
  delete[] wide;
}

void ShowProgress(HWND dialog) {
  char line1[kProgressTextSize];
  char line2[kProgressTextSize];
  context->run->MakeProgressTexts(line1, line2);
  SetControlText(dialog, IDC_PROGRESS1, line1);
  SetControlText(dialog, IDC_PROGRESS2, line2);
  // Painted now, the lines and whatever else of the window waits for it (uncovered, say):
  // while slices follow each other as posted messages, the window's queue never runs empty,
  // and the system sends WM_PAINT only from an empty queue.
  RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// Shows a box of the checker with no step running inside its message loop.
bool ShowBox(const char* text, const char* title, MessageKind kind) {
  holding = true;
  bool ok = context->messages.Show(text, title, kind);
  holding = false;
  return ok;
}

// The boxes of the run's steps, each about the current file and worded from its record: the
// progress lines name it first, since a slice may have passed many files since it last showed
// them; the box is held as ShowBox holds it.
class StepProblems : public ProblemSink {
 public:
  explicit StepProblems(HWND dialog) : dialog_(dialog) {}
  void Report(const CheckProblem& problem) override {
    ShowProgress(dialog_);
    holding = true;
    ShowProblem(context->messages, problem);
    holding = false;
  }

 private:
  HWND dialog_;
};

// Asks for the next slice: at once, unless input waits. The system takes posted messages
// before input, so a posted slice would come first again and again; the timer's tick comes
// after the input. Sent messages are handled before any posted message is taken, and posted
// ones in the order they came, so for those the slice is posted.
void ScheduleSlice(HWND dialog, bool inputWaits) {
  if (inputWaits) {
    SetTimer(dialog, IDT_CHECK, 1, nullptr);
  } else if (!slicePosted) {
    slicePosted = PostMessageW(dialog, kRunSlice, 0, 0) != 0;
    if (!slicePosted) SetTimer(dialog, IDT_CHECK, 1, nullptr);  // the queue is full
  }
}

void EndRun(HWND dialog) {
  holding = true;  // whatever is still queued finds the run over
  context->run->CloseCurrentFile();
  EndDialog(dialog, 0);
}

// What waits for the window: input, sent or posted messages (QS_ flags), not the paint of the
// progress lines, which the slices themselves cause.
UINT Waiting() { return HIWORD(GetQueueStatus(QS_INPUT | QS_SENDMESSAGE | QS_POSTMESSAGE)); }

// Runs steps until the slice's time is spent, input or a message waits, or the run ends;
// then shows the progress lines for the state reached.
void RunSlice(HWND dialog) {
  // No tick of the timer is wanted until this slice asks for one.
  KillTimer(dialog, IDT_CHECK);
  if (holding) return;
  if (context->loadFailed) {
    EndRun(dialog);  // the reason has been shown while loading
    return;
  }
  StepProblems problems(dialog);
  LONGLONG start = Now();
  LONGLONG end = start + kSliceMs * countsPerMs;
  LONGLONG look = start + kLookMs * countsPerMs;
  UINT waiting = 0;
  int result;
  for (;;) {
    result = context->run->CheckStep(problems);
    if (result != kCheckMore) break;
    LONGLONG now = Now();
    if (now >= end) break;
    if (now >= look) {
      look = now + kLookMs * countsPerMs;
      waiting = Waiting();
      if (waiting != 0) break;
    }
  }
  if (result == kCheckMore) {
    ShowProgress(dialog);
    ScheduleSlice(dialog, (waiting & QS_INPUT) != 0);
    return;
  }
  if (result == kCheckAllIntact) {
    SetControlText(dialog, IDC_HEADLINE, "");
    SetControlText(dialog, IDC_PROGRESS1, kTextCheckComplete);
    SetControlText(dialog, IDC_PROGRESS2, "");
    ShowBox(kTextAllIntact, kTextCheckEndTitle, kMessagePlain);
  }
  EndRun(dialog);  // a missing or broken file has been reported by the step
}

// Returns true when the user chose to stop; the run has then ended.
bool AskToStop(HWND dialog) {
  KillTimer(dialog, IDT_CHECK);
  if (ShowBox(kTextStopQuestion, kTextStopTitle, kMessageQuestion)) {
    EndRun(dialog);
    return true;
  }
  // Go on where the run was: the current file stays open and its digest continues.
  ScheduleSlice(dialog, false);
  return false;
}

}  // namespace

INT_PTR CALLBACK CheckerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      context = reinterpret_cast<CheckerDialogContext*>(lParam);
      context->messages.SetOwner(dialog);
      LARGE_INTEGER frequency;
      QueryPerformanceFrequency(&frequency);
      countsPerMs = frequency.QuadPart / 1000 > 0 ? frequency.QuadPart / 1000 : 1;
      // Any message shown here appears before the dialog does.
      ProblemBoxes boxes(context->messages);
      context->loadFailed = !context->run->LoadCheckData(boxes);
      // Armed after a failed load too: the first tick then ends the dialog. The timer's
      // tick comes once the dialog has been shown and painted.
      SetTimer(dialog, IDT_CHECK, 0, nullptr);
      return TRUE;  // the default focus, the stop button
    }
    case WM_TIMER:
      RunSlice(dialog);
      return TRUE;
    case kRunSlice:
      slicePosted = false;
      RunSlice(dialog);
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
