// The progress dialog: runs one build from the settings, showing what is being read.
#pragma once
#include "form.h"
#include "maker_gui_logic.h"

class TfmProgress : public gui::Form {
 public:
  // Makes the dialog, hidden, owned by the main window. `image` is the checker executable
  // every build writes first.
  bool Build(gui::Form* mainWindow, const unsigned char* image, size_t imageSize);

  HWND lbState = nullptr;
  HWND lbProg = nullptr;
  bool tmStartEnabled = false;  // the 100 ms start timer
  HWND btClose = nullptr;
  bool CancelRequested = false;

 protected:
  void FormShow() override;
  bool FormClose() override;
  void Click(int id) override;
  void Timer(UINT_PTR id) override;

 private:
  // What the build sees of the dialog.
  class Monitor : public BuildMonitor {
   public:
    explicit Monitor(TfmProgress& form) : form_(form) {}
    void ShowProgress(const std::string& state, const std::string& progress) override;
    void AfterStep() override;
    bool Cancelled() override { return form_.CancelRequested; }

   private:
    TfmProgress& form_;
  };

  void SetStartTimer(bool on);
  void tmStartTimer();
  void btCloseClick();

  const unsigned char* image_ = nullptr;
  size_t imageSize_ = 0;
};

extern TfmProgress* fmProgress;
