// The maker's start-up: the settings object exists before any window (it is a static
// object), then the three windows are made hidden, main window first, and the message
// loop shows the main window. The exit code is always 0.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <exception>

#include "checker_image.h"
#include "form.h"
#include "maker_app.h"
#include "maker_platform_win.h"
#include "texts.h"
#include "unadv.h"
#include "unmain.h"
#include "unprogress.h"

namespace {

Win32MakerPlatform& TheWin32Platform() {
  static Win32MakerPlatform platform;
  return platform;
}

}  // namespace

MakerPlatform& ThePlatform() { return TheWin32Platform(); }

bool ApplicationMessages::Show(const char* text, const char* title, MessageKind kind) {
  UINT flags = MB_OK;
  if (kind == kMessageWarning) flags = MB_OK | MB_ICONWARNING;
  if (kind == kMessageQuestion) flags = MB_OKCANCEL | MB_ICONQUESTION;
  return gui::Application::Box(text, title, flags) == IDOK;
}

namespace {

void RunMaker() {
  // Asking for the program's own path decides whether its folder needs the mark, so that
  // the boxes can name the settings file beside it whatever its folder is called.
  char own[MAX_PATH];
  TheWin32Platform().ExecutablePath(own, sizeof own);
  gui::Application::SetMarkedFolder(TheWin32Platform().MarkedFolder());
  const unsigned char* image = nullptr;
  size_t imageSize = 0;
  if (!BuiltinCheckerImage(&image, &imageSize)) {
    gui::Application::ShowError(kTextNoCheckerImage);
    return;
  }
  TfmMain main;
  TfmAdv adv;
  TfmProgress progress;
  fmMain = &main;
  fmAdv = &adv;
  fmProgress = &progress;
  gui::Application::SetMainForm(&main);
  if (main.Build() && adv.Build(&main) && progress.Build(&main, image, imageSize)) {
    gui::Application::Run();
  } else {
    gui::Application::ShowError(kTextWindowFailed);
  }
  gui::Application::SetMainForm(nullptr);
  fmProgress = nullptr;
  fmAdv = nullptr;
  fmMain = nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The folder browser needs COM on this thread; the tooltips need the common controls.
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  try {
    RunMaker();
  } catch (const std::exception& e) {
    gui::Application::ShowError(e.what());
  } catch (...) {
    gui::Application::ShowError("");
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return 0;
}
