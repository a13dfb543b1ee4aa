#include "form.h"

#include <shellapi.h>
#include <string.h>

#include <deque>
#include <exception>
#include <utility>

#include "cp932_convert_win.h"
#include "dpi_scale.h"
#include "maker_gui_logic.h"
#include "platform_win.h"
#include "resource.h"
#include "texts.h"

namespace gui {

namespace {

constexpr wchar_t kFormClass[] = L"VexorinForm";
constexpr wchar_t kFormProperty[] = L"VexorinForm.this";
constexpr wchar_t kNoteProperty[] = L"VexorinNote.proc";
// In pixels of the 96-DPI layout.
constexpr int kGlyphSize = 16;
constexpr int kGlyphSpacing = 4;
constexpr UINT kWmDpiChanged = 0x02E0;  // WM_DPICHANGED, newer than the headers' target

HINSTANCE Instance() { return GetModuleHandleW(nullptr); }

bool RegisterFormClass(WNDPROC proc) {
  static bool registered = false;
  if (registered) return true;
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = Instance();
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kFormClass;
  registered = RegisterClassExW(&wc) != 0;
  return registered;
}

// The paths a drop lists, in its order, in code page 932 as the folder field's text is read
// (a character it lacks becomes '?', so such a path names no folder here); frees the drop.
std::vector<std::string> DroppedPaths(HDROP drop) {
  std::vector<std::string> paths;
  UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    path.resize(DragQueryFileW(drop, i, &path[0], length + 1));
    paths.push_back(Cp932FromWide(path));
  }
  DragFinish(drop);
  return paths;
}

std::wstring WindowTextOf(HWND hwnd) {
  int length = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(hwnd, &text[0], length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

// A function of a system library that older systems lack, or null.
template <typename Function>
Function SystemFunction(const wchar_t* library, const char* name) {
  FARPROC found = GetProcAddress(GetModuleHandleW(library), name);
  Function function;
  static_assert(sizeof function == sizeof found, "function pointers of one size");
  memcpy(&function, &found, sizeof function);
  return function;
}

// The DPI a window is drawn for: its monitor's where the system scales per monitor
// (Windows 10 1607 and later), else the system's, which the manifest's fallback selects.
int WindowDpi(HWND hwnd) {
  using DpiForWindow = UINT(WINAPI*)(HWND);
  static const DpiForWindow dpiForWindow =
      SystemFunction<DpiForWindow>(L"user32.dll", "GetDpiForWindow");
  if (dpiForWindow != nullptr && hwnd != nullptr) {
    UINT dpi = dpiForWindow(hwnd);
    if (dpi != 0) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kBaseDpi;
}

// Loads the variant of a picture drawn for a square of `wanted` pixels (the largest of
// its sizes that fits; variant i has the resource id bitmapId + i * IDB_VARIANT_STEP) into
// an image list, taking the colour of its bottom-left pixel as transparent. A picture is
// never stretched: a square larger than every variant shows the largest, centred.
HIMAGELIST LoadImages(int bitmapId, int baseSize, int wanted, UINT colourFlag) {
  int size = 0;
  HBITMAP bitmap = nullptr;
  for (int variant = ChoosePictureVariant(baseSize, wanted, &size);
       variant >= 0 && bitmap == nullptr; --variant) {
    size = PictureVariantSize(baseSize, variant);
    bitmap = static_cast<HBITMAP>(
        LoadImageW(Instance(), MAKEINTRESOURCEW(bitmapId + variant * IDB_VARIANT_STEP),
                   IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  }
  if (bitmap == nullptr) return nullptr;
  BITMAP info;
  GetObjectW(bitmap, sizeof info, &info);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  COLORREF transparent = GetPixel(dc, 0, info.bmHeight - 1);
  SelectObject(dc, old);
  DeleteDC(dc);
  int count = info.bmWidth / size;
  HIMAGELIST list = ImageList_Create(size, size, colourFlag | ILC_MASK, count, 0);
  if (list != nullptr) ImageList_AddMasked(list, bitmap, transparent);
  DeleteObject(bitmap);
  return list;
}

// Draws the read-only usage memo's one-pixel raised edge in place of its flat border.
LRESULT CALLBACK NoteProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC base = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kNoteProperty));
  if (message == WM_NCPAINT) {
    LRESULT result = CallWindowProcW(base, hwnd, message, wParam, lParam);  // scroll bars, if any
    HDC dc = GetWindowDC(hwnd);
    RECT r;
    GetWindowRect(hwnd, &r);
    OffsetRect(&r, -r.left, -r.top);
    DrawEdge(dc, &r, BDR_RAISEDINNER, BF_RECT);
    ReleaseDC(hwnd, dc);
    return result;
  }
  if (message == WM_NCDESTROY) RemovePropW(hwnd, kNoteProperty);
  return CallWindowProcW(base, hwnd, message, wParam, lParam);
}

BOOL CALLBACK CollectWindow(HWND hwnd, LPARAM data) {
  auto* list = reinterpret_cast<std::vector<HWND>*>(data);
  list->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ThreadWindows() {
  std::vector<HWND> windows;
  EnumThreadWindows(GetCurrentThreadId(), CollectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool IsLetterOrDigit(WPARAM key) {
  return (key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9');
}

// The access key of a caption: the character after a single "&", upper-cased.
wchar_t AccessKey(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] == L'&') {
      ++i;
      continue;
    }
    wchar_t c = text[i + 1];
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  }
  return 0;
}

}  // namespace

const Fonts& FormFonts(int dpi) {
  // Made once for each DPI a window is drawn at, and kept for the program's life.
  static std::deque<std::pair<int, Fonts>> made;  // stays where it is as it grows
  for (const auto& entry : made) {
    if (entry.first == dpi) return entry.second;
  }
  std::wstring face = WideFromCp932(kTextFontName);
  auto make = [&face, dpi](int height, int weight) {
    return CreateFontW(-ScaleFontHeight(height, dpi), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  };
  made.emplace_back(dpi, Fonts{make(12, FW_NORMAL), make(12, FW_BOLD), make(15, FW_BOLD)});
  return made.back().second;
}

namespace {

// Which of a form's fonts a control uses (0 regular, 1 bold, 2 the maroon captions'), or -1.
int FontRole(HFONT font, int dpi) {
  const Fonts& f = FormFonts(dpi);
  if (font == f.regular) return 0;
  if (font == f.bold) return 1;
  if (font == f.label15) return 2;
  return -1;
}

HFONT FontOfRole(int role, int dpi) {
  const Fonts& f = FormFonts(dpi);
  return role == 0 ? f.regular : role == 1 ? f.bold : role == 2 ? f.label15 : nullptr;
}

}  // namespace

// ---------------------------------------------------------------- Form

Form::~Form() {
  for (Control& c : controls_) {
    if (c.images != nullptr) ImageList_Destroy(c.images);
  }
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

Form* Form::FromHandle(HWND hwnd) { return static_cast<Form*>(GetPropW(hwnd, kFormProperty)); }

bool Form::CreateForm(const std::string& caption, int clientWidth, int clientHeight, Form* owner) {
  if (!RegisterFormClass(WindowProc)) return false;
  owner_ = owner;
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS;
  DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
  clientWidth_ = clientWidth;
  clientHeight_ = clientHeight;
  hwnd_ = CreateWindowExW(exStyle, kFormClass, WideFromCp932(caption).c_str(), style, 0, 0,
                          clientWidth, clientHeight, owner != nullptr ? owner->Handle() : nullptr,
                          nullptr, Instance(), this);
  if (hwnd_ == nullptr) return false;
  dpi_ = WindowDpi(hwnd_);
  FitClientArea();
  // A fixed-size dialog frame: only Move and Close stay in the window menu.
  HMENU menu = GetSystemMenu(hwnd_, FALSE);
  if (menu != nullptr) {
    for (UINT item : {SC_RESTORE, SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE})
      DeleteMenu(menu, item, MF_BYCOMMAND);
  }
  return true;
}

void Form::FitClientArea() {
  // The frame's size depends on the system's metrics: measure it and grow the window so
  // that the client area has exactly the size asked for, scaled to the window's DPI.
  RECT window, client;
  GetWindowRect(hwnd_, &window);
  GetClientRect(hwnd_, &client);
  int frameWidth = (window.right - window.left) - client.right;
  int frameHeight = (window.bottom - window.top) - client.bottom;
  SetWindowPos(hwnd_, nullptr, 0, 0, Scale(clientWidth_) + frameWidth,
               Scale(clientHeight_) + frameHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int Form::Scale(int pixels) const { return ScaleToDpi(pixels, dpi_); }

HWND Form::AddControl(int id, Kind kind, const wchar_t* className, DWORD style, DWORD exStyle,
                      int x, int y, int w, int h, const std::string& text, HFONT font) {
  HWND control = CreateWindowExW(
      exStyle, className, WideFromCp932(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scale(x),
      Scale(y), ScaledLength(x, w, dpi_), ScaledLength(y, h, dpi_), hwnd_,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), nullptr);
  if (control == nullptr) return nullptr;
  if (font != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  Control c = {control, id, kind, GetSysColor(COLOR_WINDOWTEXT), false, false, nullptr};
  c.layout = {x, y, w, h};
  c.fontRole = FontRole(font, dpi_);
  controls_.push_back(c);
  return control;
}

void Form::LoadPicture(Control& control) {
  if (control.images != nullptr) ImageList_Destroy(control.images);
  control.images = nullptr;
  if (control.picture == 0) return;
  if (control.kind == kImage) {
    int size = ScaledLength(control.layout.left, control.layout.right, dpi_);
    control.images = LoadImages(control.picture, control.layout.right, size, ILC_COLOR24);
  } else {
    control.images = LoadImages(control.picture, kGlyphSize, Scale(kGlyphSize), ILC_COLOR4);
  }
}

void Form::DpiChanged(int dpi, const RECT& suggested) {
  // Moved to a screen of another DPI (per-monitor awareness): the system proposes the
  // window's new place; everything inside is laid out and drawn again for the new DPI.
  dpi_ = dpi;
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  FitClientArea();
  for (Control& c : controls_) {
    const RECT& l = c.layout;
    SetWindowPos(c.hwnd, nullptr, Scale(l.left), Scale(l.top), ScaledLength(l.left, l.right, dpi_),
                 ScaledLength(l.top, l.bottom, dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
    HFONT font = FontOfRole(c.fontRole, dpi_);
    if (font != nullptr) SendMessageW(c.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    LoadPicture(c);
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

HWND Form::AddGroupBox(int id, int x, int y, int w, int h, const std::string& text, HFONT font) {
  // A group box draws only its frame and caption and lets clicks through, so the controls
  // "inside" it are ordinary children of the form placed over it.
  return AddControl(id, kGroup, L"BUTTON", BS_GROUPBOX, 0, x, y, w, h, text, font);
}

HWND Form::AddLabel(int id, int x, int y, int w, int h, const std::string& text, HFONT font,
                    COLORREF color, bool centred, bool verticallyCentred) {
  // Drawn here rather than by the static control: one line, clipped at the fixed size,
  // never wrapped, in the label's own colour.
  HWND label = AddControl(id, kLabel, L"STATIC", SS_OWNERDRAW, 0, x, y, w, h, text, font);
  if (label != nullptr) {
    controls_.back().color = color;
    controls_.back().centred = centred;
    controls_.back().verticallyCentred = verticallyCentred;
  }
  return label;
}

HWND Form::AddEdit(int id, int x, int y, int w, int h, HFONT font) {
  HWND edit = AddControl(id, kEdit, L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, x, y, w,
                         h, "", font);
  if (edit != nullptr) SendMessageW(edit, EM_SETLIMITTEXT, 0, 0);  // no length limit
  return edit;
}

HWND Form::AddMemo(int id, int x, int y, int w, int h, HFONT font) {
  HWND memo = AddControl(id, kMemo, L"EDIT",
                         WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                         WS_EX_CLIENTEDGE, x, y, w, h, "", font);
  if (memo != nullptr) SendMessageW(memo, EM_SETLIMITTEXT, 0, 0);
  return memo;
}

HWND Form::AddNote(int id, int x, int y, int w, int h, HFONT font, COLORREF color) {
  HWND note = AddControl(id, kNote, L"EDIT", WS_BORDER | ES_MULTILINE | ES_READONLY | ES_WANTRETURN,
                         0, x, y, w, h, "", font);
  if (note == nullptr) return nullptr;
  controls_.back().color = color;
  SetPropW(note, kNoteProperty, reinterpret_cast<HANDLE>(GetWindowLongPtrW(note, GWLP_WNDPROC)));
  SetWindowLongPtrW(note, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NoteProc));
  SetWindowPos(note, nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  return note;
}

HWND Form::AddButton(int id, int x, int y, int w, int h, const std::string& text, HFONT font,
                     int glyphId, const std::string& tooltip) {
  HWND button = AddControl(id, kButton, L"BUTTON", WS_TABSTOP | BS_OWNERDRAW | BS_NOTIFY, 0, x, y,
                           w, h, text, font);
  if (button == nullptr) return nullptr;
  controls_.back().picture = glyphId;
  LoadPicture(controls_.back());
  if (!tooltip.empty()) {
    if (tooltip_ == nullptr) {
      tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_,
                                 nullptr, Instance(), nullptr);
    }
    if (tooltip_ != nullptr) {
      std::wstring tip = WideFromCp932(tooltip);
      TOOLINFOW info = {};
      info.cbSize = TTTOOLINFOW_V2_SIZE;  // accepted by every version of the common controls
      info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
      info.hwnd = hwnd_;
      info.uId = reinterpret_cast<UINT_PTR>(button);
      info.lpszText = &tip[0];
      SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    }
  }
  return button;
}

HWND Form::AddImage(int id, int x, int y, int w, int h, int bitmapId) {
  HWND image = AddControl(id, kImage, L"STATIC", SS_OWNERDRAW, 0, x, y, w, h, "", nullptr);
  if (image != nullptr) {
    controls_.back().picture = bitmapId;
    LoadPicture(controls_.back());
  }
  return image;
}

HWND Form::AddBevel(int id, int x, int y, int w, int h) {
  return AddControl(id, kBevel, L"STATIC", SS_OWNERDRAW, 0, x, y, w, h, "", nullptr);
}

void Form::AcceptDrops() { DragAcceptFiles(hwnd_, TRUE); }

std::string Form::Text(int id) const { return Cp932FromWide(WindowTextOf(GetDlgItem(hwnd_, id))); }

void Form::SetText(int id, const std::string& text) {
  HWND control = GetDlgItem(hwnd_, id);
  // A name that code page 932 cannot write comes enclosed in UTF-8 (the progress line of a file
  // stored in UTF-8), which NewWideText converts as such.
  wchar_t* wide = NewWideText(text.c_str(), nullptr);
  SetWindowTextW(control, wide != nullptr ? wide : L"");
  delete[] wide;
  InvalidateRect(control, nullptr, TRUE);  // owner-drawn labels show the new text at once
}

std::vector<std::string> Form::Lines(int id) const { return LinesFromMemoText(Text(id)); }

void Form::SetLines(int id, const std::vector<std::string>& lines) {
  SetText(id, MemoTextFromLines(lines));
}

const Form::Control* Form::Find(HWND hwnd) const {
  for (const Control& c : controls_) {
    if (c.hwnd == hwnd) return &c;
  }
  return nullptr;
}

const Form::Control* Form::Find(int id) const {
  for (const Control& c : controls_) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

void Form::CentreOver(HWND other) {
  RECT area;
  if (other != nullptr) {
    GetWindowRect(other, &area);
  } else {
    area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  RECT own;
  GetWindowRect(hwnd_, &own);
  int w = own.right - own.left;
  int h = own.bottom - own.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  // Keep the caption reachable when the main window sits near a screen edge.
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Form::FocusControl(HWND control) {
  SetFocus(control);
  const Control* c = Find(control);
  if (c != nullptr && c->kind == kEdit) SendMessageW(control, EM_SETSEL, 0, -1);
}

void Form::FocusFirst() {
  HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  if (first != nullptr) FocusControl(first);
}

void Form::ShowWithFocus() {
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  savedFocus_ = nullptr;
  FocusFirst();
  UpdateWindow(hwnd_);
}

void Form::ShowMain() {
  CentreOver(nullptr);
  ShowWithFocus();
  FormShow();
}

void Form::ShowModal() {
  HWND previous = GetActiveWindow();
  std::vector<HWND> disabled = Application::DisableWindows(hwnd_);
  modal_ = true;
  closeRequested_ = false;
  CentreOver(owner_ != nullptr ? owner_->Handle() : nullptr);
  ShowWithFocus();
  FormShow();
  for (;;) {
    if (closeRequested_) {
      closeRequested_ = false;
      if (FormClose()) break;
    }
    if (!Application::HandleMessage()) break;
  }
  modal_ = false;
  // Enable the others before hiding, so that the activation goes back to them rather
  // than to another program.
  Application::EnableWindows(disabled);
  ShowWindow(hwnd_, SW_HIDE);
  if (previous != nullptr && IsWindow(previous)) SetActiveWindow(previous);
}

void Form::Close() {
  if (modal_) {
    closeRequested_ = true;
    return;
  }
  if (!FormClose()) return;
  ShowWindow(hwnd_, SW_HIDE);
  if (this == Application::MainForm()) Application::Terminate();
}

void Form::PressButton(int id) {
  HWND button = GetDlgItem(hwnd_, id);
  if (button == nullptr || !IsWindowVisible(button) || !IsWindowEnabled(button)) return;
  Click(id);
}

bool Form::PressAccessKey(WPARAM key) {
  for (const Control& c : controls_) {
    if (c.kind != kButton || AccessKey(WindowTextOf(c.hwnd)) != static_cast<wchar_t>(key)) continue;
    PressButton(c.id);
    return true;
  }
  return false;
}

bool Form::DialogKey(const MSG& msg) {
  if (!IsWindowEnabled(hwnd_)) return false;
  HWND focus = GetFocus();
  const Control* focused = IsChild(hwnd_, focus) ? Find(focus) : nullptr;
  bool control = GetKeyState(VK_CONTROL) < 0;
  if (msg.message == WM_SYSKEYDOWN) {
    return IsLetterOrDigit(msg.wParam) && PressAccessKey(msg.wParam);
  }
  if (msg.message != WM_KEYDOWN) return false;
  switch (msg.wParam) {
    case VK_TAB: {
      if (control) return false;
      HWND next = GetNextDlgTabItem(hwnd_, focused != nullptr ? focused->hwnd : nullptr,
                                    GetKeyState(VK_SHIFT) < 0);
      if (next != nullptr) FocusControl(next);
      return true;
    }
    case VK_RETURN:
      // Memos take Enter as a new line; a focused button is pressed itself; anywhere
      // else Enter presses the default button.
      if (focused != nullptr && (focused->kind == kMemo || focused->kind == kNote)) return false;
      if (focused != nullptr && focused->kind == kButton) {
        PressButton(focused->id);
      } else if (defaultId_ != 0) {
        PressButton(defaultId_);
      }
      return true;
    case VK_ESCAPE:
      if (cancelId_ != 0) PressButton(cancelId_);
      return true;
    default:
      // Without Alt, an access key works while a button has the focus (nothing to type into).
      if (!control && focused != nullptr && focused->kind == kButton &&
          IsLetterOrDigit(msg.wParam)) {
        return PressAccessKey(msg.wParam);
      }
      return false;
  }
}

bool Form::LooksDefault(HWND button) const {
  // The focused button is the one Enter presses; while no button has the focus, it is the
  // default button. That one carries the dark frame.
  const Control* focused = Find(GetFocus());
  if (focused != nullptr && focused->kind == kButton) return focused->hwnd == button;
  const Control* def = Find(defaultId_);
  return def != nullptr && def->hwnd == button;
}

void Form::DrawButton(const Control& control, const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  bool pressed = (item.itemState & ODS_SELECTED) != 0;
  bool disabled = (item.itemState & ODS_DISABLED) != 0;
  FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
  if (LooksDefault(control.hwnd)) {
    FrameRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    InflateRect(&r, -1, -1);
  }
  if (pressed) {
    FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNSHADOW));
  } else {
    DrawEdge(dc, &r, EDGE_RAISED, BF_RECT);
  }

  std::wstring text = WindowTextOf(control.hwnd);
  HGDIOBJ oldFont =
      SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control.hwnd, WM_GETFONT, 0, 0)));
  RECT measure = {0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), -1, &measure, DT_SINGLELINE | DT_CALCRECT);
  int glyphSize = 0, glyphHeight = 0;
  if (control.images != nullptr) ImageList_GetIconSize(control.images, &glyphSize, &glyphHeight);
  int glyphWidth =
      control.images != nullptr ? glyphSize + (text.empty() ? 0 : Scale(kGlyphSpacing)) : 0;
  int width = glyphWidth + measure.right;
  int shift = pressed ? 1 : 0;
  int x = r.left + ((r.right - r.left) - width) / 2 + shift;
  int middle = (r.top + r.bottom) / 2 + shift;
  if (control.images != nullptr) {
    ImageList_Draw(control.images, disabled ? 1 : 0, dc, x, middle - glyphSize / 2,
                   ILD_TRANSPARENT);
  }
  RECT textRect = {x + glyphWidth, middle - measure.bottom / 2, x + width,
                   middle - measure.bottom / 2 + measure.bottom};
  SetBkMode(dc, TRANSPARENT);
  if (disabled) {
    OffsetRect(&textRect, 1, 1);
    SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
    DrawTextW(dc, text.c_str(), -1, &textRect, DT_SINGLELINE);
    OffsetRect(&textRect, -1, -1);
    SetTextColor(dc, GetSysColor(COLOR_BTNSHADOW));
  } else {
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
  }
  DrawTextW(dc, text.c_str(), -1, &textRect, DT_SINGLELINE);
  SelectObject(dc, oldFont);

  if ((item.itemState & ODS_FOCUS) != 0) {
    RECT focusRect = r;
    InflateRect(&focusRect, -3, -3);
    DrawFocusRect(dc, &focusRect);
  }
}

void Form::Draw(const DRAWITEMSTRUCT& item) {
  const Control* control = Find(item.hwndItem);
  if (control == nullptr) return;
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  switch (control->kind) {
    case kButton:
      DrawButton(*control, item);
      break;
    case kLabel: {
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      std::wstring text = WindowTextOf(control->hwnd);
      HGDIOBJ oldFont =
          SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control->hwnd, WM_GETFONT, 0, 0)));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, control->color);
      UINT format = DT_SINGLELINE | DT_NOPREFIX | (control->centred ? DT_CENTER : DT_LEFT) |
                    (control->verticallyCentred ? DT_VCENTER : DT_TOP);
      DrawTextW(dc, text.c_str(), -1, &r, format);
      SelectObject(dc, oldFont);
      break;
    }
    case kImage:
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      if (control->images != nullptr) {
        int w = 0, h = 0;
        ImageList_GetIconSize(control->images, &w, &h);
        ImageList_Draw(control->images, 0, dc, r.left + ((r.right - r.left) - w) / 2,
                       r.top + ((r.bottom - r.top) - h) / 2, ILD_TRANSPARENT);
      }
      break;
    case kBevel: {
      FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
      RECT line = {r.left, r.top, r.right, r.top + 2};
      DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
      break;
    }
    default:
      break;
  }
}

LRESULT CALLBACK Form::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    Form* form = static_cast<Form*>(create->lpCreateParams);
    form->hwnd_ = hwnd;
    SetPropW(hwnd, kFormProperty, form);
  }
  Form* form = FromHandle(hwnd);
  if (message == WM_NCDESTROY) {
    RemovePropW(hwnd, kFormProperty);
    if (form != nullptr) form->hwnd_ = nullptr;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  if (form == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  // An error inside a handler is shown in the standard error box and the program goes on.
  try {
    return form->Handle(message, wParam, lParam);
  } catch (const std::exception& e) {
    Application::ShowError(e.what());
  } catch (...) {
    Application::ShowError("");
  }
  return 0;
}

LRESULT Form::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const Control* control = Find(reinterpret_cast<HWND>(lParam));
      if (control == nullptr || control->kind != kButton) break;
      switch (HIWORD(wParam)) {
        case BN_CLICKED:
        case BN_DOUBLECLICKED:  // owner-drawn buttons report a quick second click this way
          Click(control->id);
          return 0;
        case BN_SETFOCUS:
        case BN_KILLFOCUS:
          // Which button carries the default frame follows the focus.
          for (const Control& c : controls_) {
            if (c.kind == kButton) InvalidateRect(c.hwnd, nullptr, FALSE);
          }
          return 0;
        default:
          return 0;
      }
    }
    case WM_DRAWITEM:
      Draw(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const Control* control = Find(reinterpret_cast<HWND>(lParam));
      SetTextColor(dc, control != nullptr ? control->color : GetSysColor(COLOR_WINDOWTEXT));
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_TIMER:
      Timer(wParam);
      return 0;
    case WM_DROPFILES:
      Dropped(DroppedPaths(reinterpret_cast<HDROP>(wParam)));
      return 0;
    case kWmDpiChanged:
      DpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_ACTIVATE:
      // Keep the focused control across a deactivation (a modal dialog, a message box).
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (IsChild(hwnd_, focus)) savedFocus_ = focus;
        return 0;
      }
      if (savedFocus_ != nullptr && IsWindow(savedFocus_) && IsWindowEnabled(savedFocus_)) {
        SetFocus(savedFocus_);
      } else {
        FocusFirst();
      }
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// ---------------------------------------------------------------- Application

Form* Application::mainForm_ = nullptr;
bool Application::terminated_ = false;
const wchar_t* Application::markedFolder_ = nullptr;

void Application::Dispatch(MSG& msg) {
  if (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) {
    Form* form = Form::FromHandle(GetAncestor(msg.hwnd, GA_ROOT));
    if (form != nullptr && form->DialogKey(msg)) return;
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

bool Application::HandleMessage() {
  if (terminated_) return false;
  MSG msg;
  BOOL got = GetMessageW(&msg, nullptr, 0, 0);
  if (got == 0 || got == -1) {
    terminated_ = true;
    return false;
  }
  Dispatch(msg);
  return !terminated_;
}

void Application::ProcessMessages() {
  MSG msg;
  while (!terminated_ && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      terminated_ = true;
      break;
    }
    Dispatch(msg);
  }
}

void Application::Run() {
  if (mainForm_ == nullptr) return;
  mainForm_->ShowMain();
  while (HandleMessage()) {
  }
}

void Application::Terminate() { PostQuitMessage(0); }

HWND Application::ActiveOwner() {
  HWND active = GetActiveWindow();
  if (active != nullptr && Form::FromHandle(active) != nullptr) return active;
  for (HWND w : ThreadWindows()) {
    Form* form = Form::FromHandle(w);
    if (form != nullptr && form->IsModal() && IsWindowVisible(w)) return w;
  }
  return mainForm_ != nullptr ? mainForm_->Handle() : nullptr;
}

std::vector<HWND> Application::DisableWindows(HWND keep) {
  std::vector<HWND> disabled;
  for (HWND w : ThreadWindows()) {
    if (w == keep || !IsWindowVisible(w) || !IsWindowEnabled(w)) continue;
    EnableWindow(w, FALSE);
    disabled.push_back(w);
  }
  return disabled;
}

void Application::EnableWindows(const std::vector<HWND>& windows) {
  for (HWND w : windows) {
    if (IsWindow(w)) EnableWindow(w, TRUE);
  }
}

int Application::Box(const std::string& text, const std::string& title, UINT flags) {
  // The owner is disabled by the box itself and enabled again before the box goes, which
  // keeps the activation with the program; the other windows are disabled here.
  HWND owner = ActiveOwner();
  std::vector<HWND> disabled = DisableWindows(owner);
  // A box may name the settings file, whose folder can be one that only its mark stands for.
  wchar_t* shown = NewWideText(text.c_str(), markedFolder_);
  int result =
      MessageBoxW(owner, shown != nullptr ? shown : L"", WideFromCp932(title).c_str(), flags);
  delete[] shown;
  EnableWindows(disabled);
  return result;
}

void Application::ShowError(const std::string& text) {
  Box(text, kTextError, MB_OK | MB_ICONERROR);
}

}  // namespace gui
