// The progress dialog: runs one build from the settings, showing what is being read.
#pragma once
#include "form.h"
#include "maker_app.h"
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
  // What the build sees of the dialog. Showing the lines and running the window's messages
  // after every step would cost the build more than its reading does, so both happen once
  // kRefreshMs have passed since they last did; the latest lines are always shown before a
  // box, and the build's end shows its own.
  class Monitor : public BuildMonitor {
   public:
    explicit Monitor(TfmProgress& form);
    void ShowProgress(const std::string& state, const std::string& progress) override;
    void AfterStep() override;
    bool Cancelled() override { return form_.CancelRequested; }
    bool Digested() override;
    // Puts lines kept back by ShowProgress on the labels now.
    void Flush();

   private:
    TfmProgress& form_;
    std::string state_;
    std::string progress_;
    bool pending_ = false;
    long long last_;           // QueryPerformanceCounter when the lines last ran
    long long refreshCounts_;  // kRefreshMs in its counts
  };
  // The build's boxes: the lines kept back are shown first, so a warning about a file
  // appears under that file's name.
  class Messages : public MessageSink {
   public:
    explicit Messages(Monitor& monitor) : monitor_(monitor) {}
    bool Show(const char* text, const char* title, MessageKind kind) override;

   private:
    Monitor& monitor_;
    ApplicationMessages boxes_;
  };

  void SetStartTimer(bool on);
  void tmStartTimer();
  void btCloseClick();

  const unsigned char* image_ = nullptr;
  size_t imageSize_ = 0;
};

extern TfmProgress* fmProgress;
