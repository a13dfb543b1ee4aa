// The main window: the folder to check, the usage text, and the buttons that browse,
// make a checker, open the advanced settings and close.
#pragma once
#include "form.h"

class TfmMain : public gui::Form {
 public:
  // Makes the window and its controls, hidden.
  bool Build();

  HWND gbMain = nullptr;
  HWND lbTarget = nullptr;
  HWND imHelp = nullptr;
  HWND edTarget = nullptr;
  HWND mmHelp = nullptr;
  HWND btBrowse = nullptr;
  HWND btMakeFile = nullptr;
  HWND btClose = nullptr;
  HWND btAdv = nullptr;

 protected:
  void FormShow() override;
  bool FormClose() override;
  void Click(int id) override;
  void Dropped(const std::vector<std::string>& paths) override;

 private:
  void btAdvClick();
  void btBrowseClick();
  void btMakeFileClick();
  void btCloseClick();
  void CollectSettings();
};

extern TfmMain* fmMain;
