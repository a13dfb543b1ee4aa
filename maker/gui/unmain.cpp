#include "unmain.h"

#include <shlobj.h>

#include "cp932_convert_win.h"
#include "make_options.h"
#include "maker_app.h"
#include "maker_gui_logic.h"
#include "resource.h"
#include "texts.h"
#include "unadv.h"
#include "unprogress.h"

TfmMain* fmMain = nullptr;

namespace {

// Selects the folder the field named, once the browser is up.
int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM, LPARAM folder) {
  if (message == BFFM_INITIALIZED && folder != 0)
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, folder);
  return 0;
}

std::string SettingsPathForMessage() {
  std::string path;
  return SettingsFilePath(ThePlatform(), &path) ? path : std::string();
}

}  // namespace

bool TfmMain::Build() {
  if (!CreateForm(kTextMainCaption, 487, 299, nullptr)) return false;
  const gui::Fonts& f = FormFonts();
  // Controls inside the group box are placed at the box's origin (8, 8) plus their offset,
  // created in tab order: the folder field, the browse button, then the window's buttons.
  gbMain = AddGroupBox(IDC_MAIN_GROUP, 8, 8, 469, 253, kTextMainGroup, f.bold);
  lbTarget = AddLabel(IDC_TARGET_LABEL, 8 + 16, 8 + 28, 153, 21, kTextTargetLabel, f.label15,
                      gui::kMaroon, false, true);
  imHelp = AddImage(IDC_HELP_IMAGE, 8 + 12, 8 + 72, 32, 32, IDB_USAGE);
  edTarget = AddEdit(IDC_TARGET, 8 + 160, 8 + 28, 233, 20, f.regular);
  btBrowse = AddButton(IDC_BROWSE, 8 + 392, 8 + 28, 65, 21, kTextBrowseButton, f.regular,
                       IDB_GLYPH_BROWSE, kTextBrowseHint);
  mmHelp = AddNote(IDC_USAGE, 8 + 48, 8 + 80, 401, 161, f.regular, gui::kNavy);
  btMakeFile = AddButton(IDC_MAKE, 180, 268, 189, 25, kTextMakeButton, f.regular, IDB_GLYPH_MAKE,
                         kTextMakeHint);
  btClose = AddButton(IDC_MAIN_CLOSE, 376, 268, 97, 25, kTextCloseButton, f.regular,
                      IDB_GLYPH_CLOSE, kTextCloseHint);
  btAdv =
      AddButton(IDC_ADV, 8, 268, 117, 25, kTextAdvButton, f.regular, IDB_GLYPH_ADV, kTextAdvHint);
  SetDefaultButton(IDC_MAKE);
  SetCancelButton(IDC_MAIN_CLOSE);
  AcceptDrops();
  return gbMain && lbTarget && imHelp && edTarget && btBrowse && mmHelp && btMakeFile && btClose &&
         btAdv;
}

void TfmMain::FormShow() {
  SetLines(IDC_USAGE, UsageLines());
  if (!MakeOptions.Load(ThePlatform())) {
    // The controls stay as they are (empty); the window opens all the same.
    gui::Application::ShowError(SettingsReadFailedText(SettingsPathForMessage()));
    return;
  }
  SetText(IDC_TARGET, MakeOptions.Target);
  fmAdv->WriteControls(AdvancedValuesOf(MakeOptions));
}

void TfmMain::Click(int id) {
  switch (id) {
    case IDC_BROWSE:
      btBrowseClick();
      break;
    case IDC_MAKE:
      btMakeFileClick();
      break;
    case IDC_MAIN_CLOSE:
      btCloseClick();
      break;
    case IDC_ADV:
      btAdvClick();
      break;
    default:
      break;
  }
}

void TfmMain::CollectSettings() {
  MakeOptions.Target = Text(IDC_TARGET);
  StoreAdvancedValues(fmAdv->ReadControls(), &MakeOptions);
}

void TfmMain::btBrowseClick() {
  std::wstring folder = WideFromCp932(Text(IDC_TARGET));
  std::wstring title = WideFromCp932(kTextBrowseTitle);
  BROWSEINFOW info = {};
  info.hwndOwner = gui::Application::ActiveOwner();
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  if (ThePlatform().IsFolder(Text(IDC_TARGET).c_str())) {
    info.lpfn = BrowseCallback;
    info.lParam = reinterpret_cast<LPARAM>(folder.c_str());
  }
  // A drive without a disk must not raise the system's own error box while browsing. The
  // browser disables its owner itself (and enables it before it goes, which keeps the
  // activation here); every other window is disabled here.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  std::vector<HWND> disabled = gui::Application::DisableWindows(info.hwndOwner);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  gui::Application::EnableWindows(disabled);
  SetErrorMode(previousMode);
  if (chosen == nullptr) return;
  wchar_t path[MAX_PATH];
  if (SHGetPathFromIDListW(chosen, path)) SetWindowTextW(edTarget, path);
  CoTaskMemFree(chosen);
}

// A folder dropped anywhere on the window goes into the folder field, as the browse button
// puts it there; nothing is stored in MakeOptions.
void TfmMain::Dropped(const std::vector<std::string>& paths) {
  std::string folder;
  if (FolderFromDrop(paths, ThePlatform(), &folder)) SetText(IDC_TARGET, folder);
}

void TfmMain::btMakeFileClick() {
  CollectSettings();
  if (ThePlatform().IsFolder(MakeOptions.Target.c_str())) {
    fmProgress->ShowModal();
  } else {
    gui::Application::Box(TargetNotFoundText(MakeOptions.Target), kTextError, MB_OK);
  }
}

void TfmMain::btAdvClick() { fmAdv->ShowModal(); }

void TfmMain::btCloseClick() { Close(); }

bool TfmMain::FormClose() {
  CollectSettings();
  if (!MakeOptions.Save(ThePlatform())) {
    // Closing now would lose the settings; the user may free the file and try again.
    gui::Application::ShowError(SettingsWriteFailedText(SettingsPathForMessage()));
    return false;
  }
  return true;
}
