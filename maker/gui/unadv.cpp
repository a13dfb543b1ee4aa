#include "unadv.h"

#include "cp932.h"
#include "make_options.h"
#include "resource.h"
#include "texts.h"

TfmAdv* fmAdv = nullptr;

bool TfmAdv::Build(gui::Form* mainWindow) {
  if (!CreateForm(kTextAdvCaption, 458, 371, mainWindow)) return false;
  const gui::Fonts& f = FormFonts();
  // Controls inside the group box are placed at the box's origin (8, 8) plus their offset.
  GroupBox1 = AddGroupBox(IDC_ADV_GROUP, 8, 8, 441, 325, kTextAdvGroup, f.bold);
  Label4 = AddLabel(IDC_NAME_LABEL, 8 + 20, 8 + 24, 237, 19, kTextNameLabel, f.label15,
                    gui::kMaroon, false, false);
  edVexorinExe = AddEdit(IDC_CHECKER_NAME, 8 + 252, 8 + 24, 165, 20, f.regular);
  Bevel1 = AddBevel(IDC_BEVEL, 8 + 8, 8 + 56, 425, 13);
  Label2 = AddLabel(IDC_FOLDER_LABEL, 8 + 20, 8 + 72, 398, 12, kTextFolderMessageLabel, f.bold,
                    GetSysColor(COLOR_WINDOWTEXT), false, false);
  mmFolder = AddMemo(IDC_FOLDER_MESSAGE, 8 + 20, 8 + 88, 401, 57, f.regular);
  Label1 = AddLabel(IDC_NOFILE_LABEL, 8 + 20, 8 + 156, 270, 12, kTextNoFileMessageLabel, f.bold,
                    GetSysColor(COLOR_WINDOWTEXT), false, false);
  mmNoFile = AddMemo(IDC_NOFILE_MESSAGE, 8 + 20, 8 + 172, 401, 57, f.regular);
  Label3 = AddLabel(IDC_BROKEN_LABEL, 8 + 20, 8 + 240, 268, 12, kTextBrokenFileMessageLabel, f.bold,
                    GetSysColor(COLOR_WINDOWTEXT), false, false);
  mmBrokenFile = AddMemo(IDC_BROKEN_MESSAGE, 8 + 20, 8 + 256, 401, 57, f.regular);
  // Tab order after the group box's controls: OK, cancel, default.
  btOK = AddButton(IDC_ADV_OK, 248, 340, 97, 25, kTextOkButton, f.regular, IDB_GLYPH_OK, "");
  btClose = AddButton(IDC_ADV_CANCEL, 352, 340, 97, 25, kTextCancelButton, f.regular,
                      IDB_GLYPH_CANCEL, "");
  btDefault = AddButton(IDC_ADV_DEFAULT, 8, 340, 161, 25, kTextDefaultButton, f.regular,
                        IDB_GLYPH_DEFAULT, "");
  SetDefaultButton(IDC_ADV_OK);
  SetCancelButton(IDC_ADV_CANCEL);
  return GroupBox1 && Label4 && edVexorinExe && Bevel1 && Label2 && mmFolder && Label1 &&
         mmNoFile && Label3 && mmBrokenFile && btOK && btClose && btDefault;
}

AdvancedValues TfmAdv::ReadControls() const {
  return {Text(IDC_CHECKER_NAME), Lines(IDC_FOLDER_MESSAGE), Lines(IDC_NOFILE_MESSAGE),
          Lines(IDC_BROKEN_MESSAGE)};
}

void TfmAdv::WriteControls(const AdvancedValues& values) {
  SetText(IDC_CHECKER_NAME, values.checkerName);
  SetLines(IDC_FOLDER_MESSAGE, values.folderLines);
  SetLines(IDC_NOFILE_MESSAGE, values.noFileLines);
  SetLines(IDC_BROKEN_MESSAGE, values.brokenFileLines);
}

void TfmAdv::FormShow() {
  // The values as the dialog opens are what a cancel returns to.
  StoreAdvancedValues(ReadControls(), &MakeOptions);
  OkPressed = false;
}

void TfmAdv::Click(int id) {
  switch (id) {
    case IDC_ADV_OK:
      btOKClick();
      break;
    case IDC_ADV_CANCEL:
      Close();
      break;
    case IDC_ADV_DEFAULT:
      btDefaultClick();
      break;
    default:
      break;
  }
}

void TfmAdv::btDefaultClick() {
  // The controls only: a later cancel still returns to the values the dialog opened with.
  WriteControls(StandardAdvancedValues());
}

bool TfmAdv::CheckFileName(const std::string& name) const { return ::CheckFileName(name.c_str()); }

void TfmAdv::btOKClick() {
  if (!CheckFileName(Text(IDC_CHECKER_NAME))) {
    gui::Application::Box(kTextBadCheckerName, kTextError, MB_OK);
    return;
  }
  OkPressed = true;
  Close();
}

bool TfmAdv::FormClose() {
  if (!OkPressed) {
    WriteControls(AdvancedValuesOf(MakeOptions));
    return true;
  }
  bool wasEmpty = false;
  std::string completed = CompleteCheckerName(Text(IDC_CHECKER_NAME), &wasEmpty);
  if (wasEmpty) gui::Application::Box(kTextCheckerNameRequired, kTextError, MB_OK);
  SetText(IDC_CHECKER_NAME, completed);
  return true;
}
