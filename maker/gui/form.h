// A small form layer over plain Win32 for the maker's three windows: a fixed-size
// top-level window with a button-face background, child controls at pixel positions,
// modal showing, Delphi-like close handling and the keyboard rules of a dialog (Tab,
// Enter for the default button, Esc for the cancel button, access keys).
//
// Every text that crosses this layer is code page 932, as the rest of the maker keeps it;
// the controls themselves are the W variants and get UTF-16.
#pragma once
// windows.h first: commctrl.h needs its types.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace gui {

struct Fonts {
  HFONT regular;  // "ＭＳ Ｐゴシック" 12 px, Shift-JIS character set
  HFONT bold;
  HFONT label15;  // the maroon captions: bold, 15 px
};
// The fonts at a DPI: the heights above at 96 DPI, scaled by DPI / 96.
const Fonts& FormFonts(int dpi);

constexpr COLORREF kMaroon = RGB(128, 0, 0);
constexpr COLORREF kNavy = RGB(0, 0, 128);

class Form {
 public:
  Form() = default;
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // Makes the window, hidden, with a client area of the given size. `owner` keeps a dialog
  // above its main window and centres it there. Sizes and positions given to the form are
  // pixels at 96 DPI; the form scales them, its fonts and its pictures to its window's DPI.
  bool CreateForm(const std::string& caption, int clientWidth, int clientHeight, Form* owner);
  HWND Handle() const { return hwnd_; }
  // The fonts for this form's DPI, to hand to the controls.
  const Fonts& FormFonts() const { return gui::FormFonts(dpi_); }

  // Controls, at positions in the form's client pixels, in tab order of creation.
  HWND AddGroupBox(int id, int x, int y, int w, int h, const std::string& text, HFONT font);
  HWND AddLabel(int id, int x, int y, int w, int h, const std::string& text, HFONT font,
                COLORREF color, bool centred, bool verticallyCentred);
  HWND AddEdit(int id, int x, int y, int w, int h, HFONT font);
  HWND AddMemo(int id, int x, int y, int w, int h, HFONT font);
  // A read-only memo without tab stop, button-face background, raised one-pixel edge.
  HWND AddNote(int id, int x, int y, int w, int h, HFONT font, COLORREF color);
  // A push button with a glyph bitmap (normal and disabled image side by side, bottom-left
  // pixel transparent) left of its caption; "&" marks the access key.
  HWND AddButton(int id, int x, int y, int w, int h, const std::string& text, HFONT font,
                 int glyphId, const std::string& tooltip);
  HWND AddImage(int id, int x, int y, int w, int h, int bitmapId);
  // A lowered line along the top edge of its rectangle.
  HWND AddBevel(int id, int x, int y, int w, int h);
  void SetDefaultButton(int id) { defaultId_ = id; }
  void SetCancelButton(int id) { cancelId_ = id; }

  std::string Text(int id) const;
  void SetText(int id, const std::string& text);
  std::vector<std::string> Lines(int id) const;
  void SetLines(int id, const std::vector<std::string>& lines);

  // Shows the form as the only enabled window of the program and returns when it has closed.
  void ShowModal();
  // Shows the main window, centred on the screen.
  void ShowMain();
  // Closes the form the way the title bar's close box does: FormClose decides; a modal
  // form closes once control is back in its modal loop.
  void Close();
  bool IsModal() const { return modal_; }
  // Lets the shell drop files and folders anywhere on the window: it hands them to Dropped.
  void AcceptDrops();

  // Keyboard rules of a dialog for a key message bound for this form; true when used.
  bool DialogKey(const MSG& msg);

  static Form* FromHandle(HWND hwnd);

 protected:
  virtual void FormShow() {}
  // False keeps the window open.
  virtual bool FormClose() { return true; }
  virtual void Click(int id) { (void)id; }
  virtual void Timer(UINT_PTR id) { (void)id; }
  // The paths of the items dropped onto the window, in the drop's order (AcceptDrops).
  virtual void Dropped(const std::vector<std::string>& paths) { (void)paths; }

 private:
  enum Kind { kGroup, kLabel, kEdit, kMemo, kNote, kButton, kImage, kBevel };
  struct Control {
    HWND hwnd;
    int id;
    Kind kind;
    COLORREF color;
    bool centred;
    bool verticallyCentred;
    HIMAGELIST images;
    RECT layout = {0, 0, 0, 0};  // at 96 DPI: left, top, width, height
    int fontRole = -1;
    int picture = 0;  // the bitmap resource of the glyph or image, or 0
  };

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  HWND AddControl(int id, Kind kind, const wchar_t* className, DWORD style, DWORD exStyle, int x,
                  int y, int w, int h, const std::string& text, HFONT font);
  int Scale(int pixels) const;
  void FitClientArea();
  void LoadPicture(Control& control);
  void DpiChanged(int dpi, const RECT& suggested);
  const Control* Find(HWND hwnd) const;
  const Control* Find(int id) const;
  void Draw(const DRAWITEMSTRUCT& item);
  void DrawButton(const Control& control, const DRAWITEMSTRUCT& item);
  bool LooksDefault(HWND button) const;
  void PressButton(int id);
  bool PressAccessKey(WPARAM key);
  void FocusControl(HWND control);
  void FocusFirst();
  void CentreOver(HWND other);
  void ShowWithFocus();

  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  int clientWidth_ = 0;  // at 96 DPI
  int clientHeight_ = 0;
  Form* owner_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND savedFocus_ = nullptr;
  std::vector<Control> controls_;
  int defaultId_ = 0;
  int cancelId_ = 0;
  bool modal_ = false;
  bool closeRequested_ = false;
};

// The program's message loop, its standard error box and its message boxes.
class Application {
 public:
  static void SetMainForm(Form* form) { mainForm_ = form; }
  static Form* MainForm() { return mainForm_; }
  // Runs the main window until it has closed.
  static void Run();
  // Waits for and handles one message; false once the program is to end.
  static bool HandleMessage();
  // Handles every pending message and returns.
  static void ProcessMessages();
  static void Terminate();
  static bool Terminated() { return terminated_; }

  // A message box owned by the active window of the program, the others disabled.
  static int Box(const std::string& text, const std::string& title, UINT flags);
  // The application's standard error box.
  static void ShowError(const std::string& text);
  // The folder that the executable-folder mark stands for in the boxes' texts (the
  // platform's, which stays valid for the program's life), or null.
  static void SetMarkedFolder(const wchar_t* folder) { markedFolder_ = folder; }

  // Disables the program's visible top-level windows except `keep`; gives back the list.
  static std::vector<HWND> DisableWindows(HWND keep);
  static void EnableWindows(const std::vector<HWND>& windows);
  // The window that boxes and the folder browser belong to.
  static HWND ActiveOwner();

 private:
  static void Dispatch(MSG& msg);

  static Form* mainForm_;
  static bool terminated_;
  static const wchar_t* markedFolder_;
};

}  // namespace gui
