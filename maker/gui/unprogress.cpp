#include "unprogress.h"

#include "make_options.h"
#include "maker_app.h"
#include "resource.h"
#include "texts.h"

TfmProgress* fmProgress = nullptr;

namespace {
constexpr UINT_PTR kStartTimer = 1;
constexpr UINT kStartDelayMs = 100;
// How often a build shows its lines and runs the window's messages: often enough that the
// lines move smoothly and the cancel button answers within 50 ms, seldom enough that neither
// costs more than the reading between them.
constexpr long long kRefreshMs = 15;

long long Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}
}  // namespace

bool TfmProgress::Build(gui::Form* mainWindow, const unsigned char* image, size_t imageSize) {
  image_ = image;
  imageSize_ = imageSize;
  if (!CreateForm(kTextProgressCaption, 434, 99, mainWindow)) return false;
  const gui::Fonts& f = FormFonts();
  COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
  lbState = AddLabel(IDC_STATE, 12, 12, 409, 17, kTextProgressStarting, f.regular, text, true, false);
  lbProg = AddLabel(IDC_PROGRESS, 12, 40, 413, 17, kTextProgressWait, f.regular, text, true, false);
  btClose = AddButton(IDC_PROGRESS_CANCEL, 169, 69, 97, 25, kTextCancelButton, f.regular,
                      IDB_GLYPH_CANCEL, "");
  SetCancelButton(IDC_PROGRESS_CANCEL);
  return lbState && lbProg && btClose;
}

void TfmProgress::SetStartTimer(bool on) {
  if (on) {
    SetTimer(Handle(), kStartTimer, kStartDelayMs, nullptr);
  } else {
    KillTimer(Handle(), kStartTimer);
  }
  tmStartEnabled = on;
}

void TfmProgress::FormShow() {
  // Each build starts from the initial texts rather than from what the last one left.
  SetText(IDC_STATE, kTextProgressStarting);
  SetText(IDC_PROGRESS, kTextProgressWait);
  SetStartTimer(true);
  CancelRequested = false;
}

bool TfmProgress::FormClose() {
  // Closed through the title bar before the first tick: no build may start later.
  SetStartTimer(false);
  return true;
}

void TfmProgress::Click(int id) {
  if (id == IDC_PROGRESS_CANCEL) btCloseClick();
}

void TfmProgress::btCloseClick() {
  // The running build notices the flag after its current step.
  SetStartTimer(false);
  CancelRequested = true;
}

void TfmProgress::Timer(UINT_PTR id) {
  if (id == kStartTimer) tmStartTimer();
}

void TfmProgress::tmStartTimer() {
  // Off first: the build pumps messages, and a second tick must not start another one.
  SetStartTimer(false);
  Monitor monitor(*this);
  Messages messages(monitor);
  RunCheckerBuild(MakeOptions, ThePlatform(), messages, image_, imageSize_, monitor);
  Close();
}

TfmProgress::Monitor::Monitor(TfmProgress& form) : form_(form) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  refreshCounts_ = frequency.QuadPart * kRefreshMs / 1000;
  // The first lines of a build are shown at once.
  last_ = Now() - refreshCounts_;
}

void TfmProgress::Monitor::ShowProgress(const std::string& state, const std::string& progress) {
  state_ = state;
  progress_ = progress;
  pending_ = true;
  if (Now() - last_ >= refreshCounts_) Flush();
}

void TfmProgress::Monitor::Flush() {
  if (!pending_) return;
  pending_ = false;
  form_.SetText(IDC_STATE, state_);
  form_.SetText(IDC_PROGRESS, progress_);
}

void TfmProgress::Monitor::AfterStep() {
  long long now = Now();
  if (now - last_ < refreshCounts_) return;
  last_ = now;
  Flush();
  gui::Application::ProcessMessages();
}

bool TfmProgress::Monitor::Digested() {
  // The completion text, shown before the success box or any box of the write.
  bool go = BuildMonitor::Digested();
  Flush();
  return go;
}

bool TfmProgress::Messages::Show(const char* text, const char* title, MessageKind kind) {
  monitor_.Flush();
  return boxes_.Show(text, title, kind);
}
