// The advanced settings dialog: the checker's file name and its three messages.
#pragma once
#include <string>

#include "form.h"
#include "maker_gui_logic.h"

class TfmAdv : public gui::Form {
 public:
  // Makes the dialog and its controls, hidden, owned by the main window.
  bool Build(gui::Form* mainWindow);

  // The controls are the working home of the four values; the main window reads and
  // fills them directly.
  AdvancedValues ReadControls() const;
  void WriteControls(const AdvancedValues& values);

  HWND GroupBox1 = nullptr;
  HWND mmFolder = nullptr;
  HWND mmNoFile = nullptr;
  HWND mmBrokenFile = nullptr;
  HWND Label1 = nullptr;
  HWND Label2 = nullptr;
  HWND Label3 = nullptr;
  HWND Label4 = nullptr;
  HWND btOK = nullptr;
  HWND btClose = nullptr;
  HWND btDefault = nullptr;
  HWND Bevel1 = nullptr;
  HWND edVexorinExe = nullptr;
  bool OkPressed = false;

 protected:
  void FormShow() override;
  bool FormClose() override;
  void Click(int id) override;

 private:
  void btDefaultClick();
  void btOKClick();
  bool CheckFileName(const std::string& name) const;
};

extern TfmAdv* fmAdv;
