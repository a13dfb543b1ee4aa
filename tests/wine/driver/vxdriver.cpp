// vxdriver: drives a real Win32 GUI program from a line-oriented script so
// that the Vexorin programs can be tested end to end under Wine + Xvfb (and
// on real Windows). It only uses public window-management APIs from a
// separate process, i.e. it sees the program the way a user would: captions,
// control texts, message boxes, focus, keyboard and button clicks.
//
// Usage:  vxdriver.exe [--ack] [script-file]   (script from stdin if omitted)
// Build:  i686-w64-mingw32-g++ -O2 -static -municode vxdriver.cpp -lgdi32
//         (tests/wine/CMakeLists.txt builds it as target vxdriver)
//
// --ack: stdin carries acknowledgements from a harness (the script must
// then come from the file). `snapshot` waits for one line on stdin before it
// continues, and after a failure a full-screen "SNAPSHOT name=failure ..." is
// requested before the started processes are terminated, so the harness can
// take screenshots while the windows are still there.
//
// The script is UTF-8 (an optional BOM is skipped), one command per line.
// Empty lines and lines starting with '#' are ignored. Arguments are
// separated by blanks; an argument containing blanks, or an empty argument,
// must be quoted:
//   "..."  double quotes: \" \\ \n \r \t are escapes, any other backslash
//          stays literal ("C:\dir\x.exe" works, but write "C:\\new" for \n).
//   '...'  single quotes: taken literally, no escapes at all.
// Only `echo` takes the raw rest of the line.
//
// Output: every command is echoed as "> <line>", followed by its result
// lines. Output is UTF-8 (WriteConsoleW when stdout is a real console).
// In printed texts '\' is written as "\\", newline as "\n", CR as "\r",
// tab as "\t", so every result is exactly one line. Exit code 0 when all
// commands succeeded; at the first failing command "FAIL: <reason>" is
// printed and the exit code is 1 (2 for usage errors). Any started process
// still running when the script ends (or fails) is terminated, with a
// "KILLED pid=<pid>" line, unless `detach` was used.
//
// Control references <ctl>: a decimal or 0x-hex control id (-1 and 65535
// are the same id), or "@" for the control selected by find-control.
// `press` also accepts a button label instead of an id.
// Label matching: exact text, or the text with its mnemonic removed:
// "はい(&Y)" matches "はい", "&Yes" matches "Yes" (and "&&" means "&").
//
// Process:
//   start <exe> [<workdir>|- [<arg>...]]  CreateProcessW; becomes the target
//                                 process. Previous targets keep running.
//   attach <caption> [ms]         wait for a visible top-level window with exactly this
//                                 caption in any process and make that process the
//                                 target: for a program that CreateProcess cannot start
//                                 (Wine's takes no path past MAX_PATH), started from
//                                 outside by Wine's loader
//   wait-exit [ms]                wait for the target to end, print EXIT <code>
//   expect-exit <code> [ms]       same, and fail unless the code matches
//   kill                          TerminateProcess(target, 1)
//   detach                        do not kill still-running targets at the end
// Windows (only visible top-level windows of the target process count):
//   wait-dialog <caption> [ms]    wait for a window with exactly this caption;
//                                 it becomes the current window. Dialogs (class
//                                 #32770, message boxes included) are preferred,
//                                 other windows match too.
//   wait-window <caption> [ms]    the same, preferring windows that are not
//                                 dialogs (a main window titled like its boxes)
//   wait-box [ms]                 wait for a message box and print
//                                 BOX caption=<c> text=<t> buttons=<b1>,<b2> icon=<i>
//                                 (button labels without mnemonics, in visual
//                                 order, ',' inside a label written "\,";
//                                 icon none|warning|question|info|error|unknown);
//                                 the box becomes the current window.
//   no-box <ms>                   fail if a message box shows up within <ms>
//   windows                       list the target's top-level windows (WIN ...)
//   codepage                      print CODEPAGE acp=<n> oemcp=<n>: the system's ANSI and
//                                 OEM code pages, which the test locale decides under Wine
//   exists                        fail unless the current window still exists
//   gone [ms]                     wait until the current window is destroyed or
//                                 hidden; fail after the timeout
//   expect-caption <text>         fail unless the current window has this caption
//   rect [<ctl>]                  print RECT x= y= w= h= in screen pixels of the
//                                 current window (or of a control)
//   activate                      SetForegroundWindow(current window)
// Controls of the current window:
//   controls                      print WINDOW ... then one CTRL line per child:
//                                 CTRL id= class= rect=x,y,w,h dlu=x,y,w,h
//                                 style=0x.. ex=0x.. flags=.. text=..
//                                 rect is in client pixels of the current window;
//                                 dlu is the same rect in dialog units (see below)
//   find-control <class|*> <text|*> [n]  select the n-th (1-based) matching
//                                 control as "@"; prints FOUND ...
//   text <ctl>                    print TEXT <ctl>=<text> (WM_GETTEXT)
//   expect-text <ctl> <text>      fail unless equal
//   wait-text <ctl> <text> [ms]   wait until the control has this text
//   settext <ctl> <text>          WM_SETTEXT (edit controls then send EN_CHANGE)
//   press <ctl|label>             click a button: checks that it and its window
//                                 are visible and enabled, then sends BM_CLICK
//                                 (settled, see below)
//   check <ctl>                   print CHECK <ctl>=<0|1|2> (BM_GETCHECK)
//   expect-check <ctl> <0|1|2>
//   expect-enabled <ctl> <0|1>    IsWindowEnabled
//   expect-visible <ctl> <0|1>    IsWindowVisible
//   items <ctl>                   print ITEM <i>=<text> of a combo or list box
//   select <ctl> <item text>      select a combo/list box item by its exact text
//                                 and notify the parent (CBN_/LBN_SELCHANGE,
//                                 settled)
//   focus                         print FOCUS id= class= text= of the control
//                                 that has the keyboard focus in the target thread
//   expect-focus <ctl>            fail unless that control has the focus
//   wait-focus <ctl> [ms]         wait until that control has the focus
//   char-pos <ctl> <index>        print POS x= y= of a character of an edit control,
//                                 in its client pixels (EM_POSFROMCHAR)
//   dialog-font <face> <points>   base units for dlu= from this font (override)
//   dialog-units <cx> <cy>        base units for dlu= given directly (override)
// Input:
//   key <keys>                    post WM_KEYDOWN/WM_KEYUP for one key to the
//                                 focused control of the current window (or to
//                                 the window itself), once it takes keys (see
//                                 below). <keys> is a key name with
//                                 optional modifiers joined by '+', in any order:
//                                 ESCAPE, RETURN, TAB, F4+ALT, ALT+F4, SPACE, ...
//                                 With ALT the key goes as WM_SYSKEYDOWN with the
//                                 context bit set, which DefWindowProc turns into
//                                 SC_CLOSE for Alt+F4. CTRL/SHIFT are posted as
//                                 their own key messages but the target's
//                                 GetKeyState() does not see them - use `input`.
//   input <keys>                  SendInput (real keyboard events, key state
//                                 included) after SetForegroundWindow
//   type <text>                   post one WM_CHAR per character to the focus,
//                                 once the current window takes keys
//   syscommand <close|minimize|maximize|restore>  WM_SYSCOMMAND (settled)
//   drop <ctl> <path>...          drop files and folders onto a control as the shell
//                                 does: the control, or the first of its parents,
//                                 that takes drops (WS_EX_ACCEPTFILES; fail if none)
//                                 gets WM_DROPFILES (settled) with an HDROP built in
//                                 the target process (wide paths, the point at the
//                                 control's centre)
//   command <id>                  WM_COMMAND(id, 0) to the current window, what
//                                 a menu item or accelerator sends (settled)
// Misc:
//   sleep <ms> | echo <text> | timeout <ms> (default wait, initially 10000)
//   poll <ms>                     how often waits look again (initially 20; the bench
//                                 times with 1)
//   clock                         print CLOCK ms=<milliseconds of a steady clock>
//   dpi-aware                     make the driver DPI-aware (per monitor where the
//                                 system can), so that it sees the pixels of a
//                                 DPI-aware program unscaled; prints DPI system=<n>
//   text-extent <face> <pixels> <weight> <text>  print EXTENT w= h=: the size of a
//                                 one-line text in a Shift-JIS font of that pixel
//                                 height and weight, "&" marking an access key
//   snapshot [<name>]             print SNAPSHOT name=<name> x= y= w= h= with
//                                 the current window's screen rect (the whole
//                                 screen without a current window); with --ack
//                                 wait (up to 60 s) until the harness took it
//
// Waits poll every 20 ms (see `poll`) and always end at their timeout; a wait also ends
// early with a failure when the target process exits.
//
// Settled actions (press, select, syscommand, command) are sent from a helper
// thread; the command returns when the program has handled the message, or
// as soon as its set of windows changes (a modal box opened by the click), or
// after 2 s. So `press X` followed by `expect-text` sees the click's effect.
// Keyboard input (key, type, input) must go through the program's message
// loop and is therefore posted: follow it with a wait-* command.
//
// A posted key is lost when a modal loop that does not hand it on takes it, so
// `key` and `type` first wait (up to the default timeout) until the current
// window takes keys: it is enabled (no modal window of the program is still
// open over it), it is the active window of its thread, and no message box of
// the target is closing. A closing box is hidden by EndDialog before its own
// loop has ended; under Wine that loop still takes the next message posted to
// the thread and, the box being ended, drops it instead of dispatching it.
//
// Observed under Wine 8 (differs from Windows, so tests should not rely on
// it): Escape, SC_CLOSE and Alt+F4 end an MB_OK box with IDCANCEL, where
// Windows documents IDOK for Escape, and they even end MB_YESNO boxes with
// IDCANCEL, where Windows ignores them (the box has no Cancel button).
// Posted WM_SYSKEYDOWN Alt+F4 and SendInput both work without a window
// manager. MapDialogRect and GetIconInfo refuse windows/icons of other
// processes, hence the workarounds below.
//
// Dialog units: Windows maps template coordinates with MulDiv(v, base, 4)
// horizontally and MulDiv(v, base, 8) vertically. The base units come from
// MapDialogRect when it works on the window (Wine refuses it for windows of
// other processes); otherwise from the DIALOG resource in the target's exe whose caption equals
// the window's caption, measuring its font the same way the dialog manager
// does (average of A-Za-z width, tmHeight). `dialog-font`/`dialog-units`
// override that. A value that no integer maps to exactly is printed with a
// trailing '~' (rounded).
//
// Message box icon: the icon static (SS_ICON) is asked for its HICON with
// STM_GETICON. NULL means no icon. On Windows the shared system icons are the
// same handle in every process, so LoadIcon(NULL, IDI_*) identifies it. Wine
// keeps shared icons per process (and GetIconInfo refuses foreign handles),
// so there the icon is identified from the screen: the control's pixels are
// copied from the screen DC and compared with our own rendering of each
// system icon over the measured background. If the box is covered or not yet
// painted this yields no confident match; wait-box retries for a while and
// then reports "unknown".

#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#include <shlobj.h>  // DROPFILES

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- strings

std::wstring fromUtf8(const std::string& s) {
    if (s.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

std::string toUtf8(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, nullptr, nullptr);
    return s;
}

// One result must stay on one line, and the reader must be able to undo
// the escaping, so backslash itself is escaped too.
std::wstring esc(const std::wstring& s) {
    std::wstring r;
    for (wchar_t c : s) {
        switch (c) {
        case L'\\': r += L"\\\\"; break;
        case L'\n': r += L"\\n"; break;
        case L'\r': r += L"\\r"; break;
        case L'\t': r += L"\\t"; break;
        default: r += c;
        }
    }
    return r;
}

std::wstring hex(unsigned long v) {
    wchar_t b[32];
    swprintf(b, 32, L"0x%08lX", v);
    return b;
}

std::wstring num(long long v) { return std::to_wstring(v); }

bool ieq(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), (int)a.size(), b.c_str(), (int)b.size(), TRUE) == CSTR_EQUAL;
}

// Labels carry mnemonics: "&Yes" in English resources, "はい(&Y)" in
// Japanese ones. Tests should be able to name the label the user reads.
std::wstring stripMnemonic(const std::wstring& s) {
    std::wstring t = s;
    // "(&X)" as a whole, possibly with full-width parentheses.
    for (size_t i = 0; i + 4 <= t.size(); ++i) {
        bool open = t[i] == L'(' || t[i] == L'\xFF08';
        bool close = t[i + 3] == L')' || t[i + 3] == L'\xFF09';
        if (open && t[i + 1] == L'&' && close) {
            t.erase(i, 4);
            break;
        }
    }
    std::wstring r;
    for (size_t i = 0; i < t.size(); ++i) {
        if (t[i] == L'&') {
            if (i + 1 < t.size() && t[i + 1] == L'&') { r += L'&'; ++i; }
            continue;
        }
        r += t[i];
    }
    return r;
}

bool labelMatches(const std::wstring& actual, const std::wstring& wanted) {
    return actual == wanted || stripMnemonic(actual) == wanted;
}

// ---------------------------------------------------------------- output

HANDLE g_out = INVALID_HANDLE_VALUE;
bool g_outIsConsole = false;

void emit(const std::wstring& line) {
    std::wstring s = line + L"\n";
    DWORD n = 0;
    if (g_outIsConsole) {
        WriteConsoleW(g_out, s.c_str(), (DWORD)s.size(), &n, nullptr);
    } else {
        std::string u = toUtf8(s);
        WriteFile(g_out, u.data(), (DWORD)u.size(), &n, nullptr);
    }
}

struct Failure {
    std::wstring msg;
};

[[noreturn]] void fail(const std::wstring& msg) { throw Failure{msg}; }

// ---------------------------------------------------------------- script parsing

struct Line {
    std::wstring raw;   // whole line, trimmed
    std::wstring rest;  // raw text after the command word
    std::vector<std::wstring> args;  // args[0] is the command
};

Line parseLine(const std::wstring& text) {
    Line ln;
    size_t b = text.find_first_not_of(L" \t");
    size_t e = text.find_last_not_of(L" \t\r");
    ln.raw = (b == std::wstring::npos) ? L"" : text.substr(b, e - b + 1);
    const std::wstring& s = ln.raw;
    size_t i = 0;
    bool first = true;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == L' ' || s[i] == L'\t')) ++i;
        if (i >= s.size()) break;
        if (!first && ln.args.size() == 1 && ln.rest.empty()) ln.rest = s.substr(i);
        std::wstring tok;
        if (s[i] == L'"') {
            ++i;
            bool closed = false;
            while (i < s.size()) {
                wchar_t c = s[i];
                if (c == L'"') { closed = true; ++i; break; }
                if (c == L'\\' && i + 1 < s.size()) {
                    wchar_t n = s[i + 1];
                    if (n == L'"' || n == L'\\') { tok += n; i += 2; continue; }
                    if (n == L'n') { tok += L'\n'; i += 2; continue; }
                    if (n == L'r') { tok += L'\r'; i += 2; continue; }
                    if (n == L't') { tok += L'\t'; i += 2; continue; }
                }
                tok += c;
                ++i;
            }
            if (!closed) fail(L"unterminated double quote");
        } else if (s[i] == L'\'') {
            size_t close = s.find(L'\'', i + 1);
            if (close == std::wstring::npos) fail(L"unterminated single quote");
            tok = s.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            while (i < s.size() && s[i] != L' ' && s[i] != L'\t') tok += s[i++];
        }
        ln.args.push_back(tok);
        first = false;
    }
    return ln;
}

long long parseNumber(const std::wstring& s, const wchar_t* what) {
    if (s.empty()) fail(std::wstring(L"expected a number for ") + what);
    wchar_t* end = nullptr;
    long long v = wcstoll(s.c_str(), &end, 0);
    if (!end || *end) fail(std::wstring(L"not a number for ") + what + L": " + s);
    return v;
}

bool tryNumber(const std::wstring& s, long long* v) {
    if (s.empty()) return false;
    wchar_t* end = nullptr;
    long long r = wcstoll(s.c_str(), &end, 0);
    if (!end || *end) return false;
    *v = r;
    return true;
}

// ---------------------------------------------------------------- state

struct Target {
    HANDLE process = nullptr;
    DWORD pid = 0;
    std::wstring exe;
};

std::deque<Target> g_started;  // deque: g_target stays valid across `start`s
Target* g_target = nullptr;
HWND g_cur = nullptr;   // current window
HWND g_sel = nullptr;   // control selected by find-control ("@")
DWORD g_defaultTimeout = 10000;
bool g_detach = false;
bool g_ack = false;
int g_snapshots = 0;
// Base-unit override from dialog-font / dialog-units (0 = none).
int g_overrideCx = 0, g_overrideCy = 0;

// How often waits look again, in ms; `poll` changes it.
DWORD g_poll = 20;
const UINT kSmto = SMTO_ABORTIFHUNG | SMTO_BLOCK;
const UINT kSmtoTimeout = 3000;

Target& needTarget() {
    if (!g_target) fail(L"no process started");
    return *g_target;
}

bool targetAlive() {
    return g_target && WaitForSingleObject(g_target->process, 0) == WAIT_TIMEOUT;
}

// Called inside wait loops: a target that exited will never show the window
// we wait for, so fail now instead of after the timeout.
void failIfTargetExited(const std::wstring& waitingFor) {
    if (g_target && !targetAlive()) {
        DWORD code = 0;
        GetExitCodeProcess(g_target->process, &code);
        fail(L"process exited (code " + num(code) + L") while waiting for " + waitingFor);
    }
}

HWND needCur() {
    if (!g_cur) fail(L"no current window (use wait-dialog or wait-box first)");
    if (!IsWindow(g_cur)) fail(L"current window no longer exists");
    return g_cur;
}

// ---------------------------------------------------------------- window helpers

std::wstring className(HWND h) {
    wchar_t b[256] = {0};
    GetClassNameW(h, b, 256);
    return b;
}

// GetWindowText does not send WM_GETTEXT across processes (it returns the
// internal caption), and edit controls keep their text elsewhere, so ask
// the control itself, with a timeout in case the target hangs.
std::wstring windowText(HWND h) {
    DWORD_PTR len = 0;
    if (SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, kSmto, kSmtoTimeout, &len)) {
        std::vector<wchar_t> buf(len + 64, L'\0');
        DWORD_PTR got = 0;
        if (SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), (LPARAM)buf.data(), kSmto, kSmtoTimeout, &got)) {
            buf.back() = 0;
            return std::wstring(buf.data());
        }
    }
    wchar_t b[4096] = {0};
    InternalGetWindowText(h, b, 4096);
    return b;
}

// Captions of top-level windows are kept by the system, so they can be read
// without a message round trip; wait loops stay responsive while the
// program is busy.
std::wstring captionText(HWND h) {
    wchar_t b[4096] = {0};
    if (InternalGetWindowText(h, b, 4096) > 0) return b;
    return windowText(h);
}

long ctrlId(HWND h) { return (long)GetDlgCtrlID(h); }

bool sameId(long actual, long long wanted) {
    if (actual == wanted) return true;
    // Dialog templates store 16-bit ids, so IDC_STATIC (-1) reads back as 65535.
    if (wanted >= -1 && wanted <= 0xFFFF) return (actual & 0xFFFF) == (wanted & 0xFFFF);
    return false;
}

std::vector<HWND> g_enumTmp;

BOOL CALLBACK collectChild(HWND h, LPARAM) {
    g_enumTmp.push_back(h);
    return TRUE;
}

std::vector<HWND> children(HWND parent) {
    g_enumTmp.clear();
    EnumChildWindows(parent, collectChild, 0);
    return g_enumTmp;
}

struct TopCollect {
    DWORD pid;
    std::vector<HWND> wins;
};

BOOL CALLBACK collectTop(HWND h, LPARAM lp) {
    TopCollect* c = (TopCollect*)lp;
    DWORD p = 0;
    GetWindowThreadProcessId(h, &p);
    if (p == c->pid) c->wins.push_back(h);
    return TRUE;
}

// Top-level windows of the target in Z order (topmost first).
std::vector<HWND> targetWindows(bool visibleOnly) {
    TopCollect c{needTarget().pid, {}};
    EnumWindows(collectTop, (LPARAM)&c);
    std::vector<HWND> r;
    for (HWND h : c.wins)
        if (!visibleOnly || IsWindowVisible(h)) r.push_back(h);
    return r;
}

bool isStaticIcon(HWND h) {
    return ieq(className(h), L"Static") && (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
}

// MessageBox builds a #32770 dialog whose text is a static with id 0xFFFF
// and style SS_NOPREFIX (the text is shown as given), an SS_ICON static and
// only buttons with the IDOK..IDCONTINUE ids. Ordinary dialogs often have
// id -1 labels too, so besides the text static either the icon static or
// SS_NOPREFIX is required, and any other kind of control rules it out.
bool isMessageBox(HWND h) {
    if (className(h) != L"#32770") return false;
    bool text = false, noPrefix = false, icon = false, button = false;
    for (HWND c : children(h)) {
        if (GetParent(c) != h) return false;
        std::wstring cls = className(c);
        long id = ctrlId(c) & 0xFFFF;
        if (ieq(cls, L"Static")) {
            if (isStaticIcon(c)) {
                icon = true;
            } else if (id == 0xFFFF && !text) {
                text = true;
                noPrefix = (GetWindowLongW(c, GWL_STYLE) & SS_NOPREFIX) != 0;
            } else {
                return false;
            }
        } else if (ieq(cls, L"Button")) {
            if (id < IDOK || id > IDCONTINUE) return false;
            button = true;
        } else {
            return false;
        }
    }
    return text && button && (icon || noPrefix);
}

HWND boxTextControl(HWND box) {
    for (HWND c : children(box))
        if ((ctrlId(c) & 0xFFFF) == 0xFFFF && !isStaticIcon(c)) return c;
    return nullptr;
}

// Buttons in the order the user sees them: top to bottom, left to right.
std::vector<HWND> visibleButtons(HWND parent) {
    std::vector<HWND> r;
    for (HWND c : children(parent))
        if (ieq(className(c), L"Button") && IsWindowVisible(c)) r.push_back(c);
    std::stable_sort(r.begin(), r.end(), [](HWND a, HWND b) {
        RECT ra, rb;
        GetWindowRect(a, &ra);
        GetWindowRect(b, &rb);
        if (ra.top != rb.top) return ra.top < rb.top;
        return ra.left < rb.left;
    });
    return r;
}

HWND findBox() {
    HWND disabledBox = nullptr;
    for (HWND h : targetWindows(true)) {
        if (!isMessageBox(h)) continue;
        // A box that opened another box is disabled; the enabled one is the
        // one the user interacts with.
        if (IsWindowEnabled(h)) return h;
        if (!disabledBox) disabledBox = h;
    }
    return disabledBox;
}

// ---------------------------------------------------------------- control lookup

HWND controlById(HWND parent, long long id) {
    HWND found = nullptr;
    for (HWND c : children(parent)) {
        if (!sameId(ctrlId(c), id)) continue;
        if (GetParent(c) == parent) return c;  // direct children first, like GetDlgItem
        if (!found) found = c;
    }
    return found;
}

HWND resolveCtl(const std::wstring& ref) {
    HWND cur = needCur();
    if (ref == L"@") {
        if (!g_sel) fail(L"no control selected (use find-control)");
        if (!IsWindow(g_sel)) fail(L"selected control no longer exists");
        return g_sel;
    }
    long long id = 0;
    if (!tryNumber(ref, &id)) fail(L"bad control reference: " + ref + L" (id, 0x-id or @)");
    HWND h = controlById(cur, id);
    if (!h) fail(L"no control with id " + ref + L" in the current window");
    return h;
}

// ---------------------------------------------------------------- dialog units

struct BaseUnits {
    int cx = 0, cy = 0;
    std::wstring source;
};

BaseUnits measureFont(const std::wstring& face, int points, int weight, bool italic) {
    BaseUnits b;
    HDC dc = GetDC(nullptr);
    HFONT f = CreateFontW(-MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, weight, italic, FALSE,
                          FALSE, DEFAULT_CHARSET, 0, 0, PROOF_QUALITY, FF_DONTCARE, face.c_str());
    if (f) {
        HGDIOBJ old = SelectObject(dc, f);
        static const wchar_t alpha[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
        SIZE sz;
        TEXTMETRICW tm;
        if (GetTextExtentPoint32W(dc, alpha, 52, &sz) && GetTextMetricsW(dc, &tm)) {
            // Same rounding as the dialog manager's average character width.
            b.cx = (sz.cx / 26 + 1) / 2;
            b.cy = tm.tmHeight;
        }
        SelectObject(dc, old);
        DeleteObject(f);
    }
    ReleaseDC(nullptr, dc);
    return b;
}

struct TemplateFont {
    bool found = false;
    bool hasFont = false;
    std::wstring face;
    int points = 0, weight = FW_NORMAL;
    bool italic = false;
};

struct TemplateSearch {
    std::wstring caption;
    TemplateFont result;
};

const WORD* skipSzOrOrd(const WORD* p) {
    if (*p == 0x0000) return p + 1;
    if (*p == 0xFFFF) return p + 2;
    while (*p) ++p;
    return p + 1;
}

// Reads caption and font of a DLGTEMPLATE / DLGTEMPLATEEX.
bool parseTemplate(const void* data, DWORD size, std::wstring* caption, TemplateFont* font) {
    if (size < 18) return false;
    const WORD* p = (const WORD*)data;
    bool ex = p[0] == 1 && p[1] == 0xFFFF;
    DWORD style;
    if (ex) {
        style = *(const DWORD*)(p + 6);
        p += 2 + 2 + 2 + 2 + 1 + 4;  // ver, sig, helpId, exStyle, style, cDlgItems, x,y,cx,cy
    } else {
        style = *(const DWORD*)p;
        p += 2 + 2 + 1 + 4;  // style, exStyle, cdit, x,y,cx,cy
    }
    p = skipSzOrOrd(p);  // menu
    p = skipSzOrOrd(p);  // class
    *caption = (const wchar_t*)p;
    p += caption->size() + 1;
    font->hasFont = (style & DS_SETFONT) != 0;
    if (font->hasFont) {
        font->points = p[0];
        if (ex) {
            font->weight = p[1];
            font->italic = (p[2] & 0xFF) != 0;
            p += 3;
        } else {
            p += 1;
        }
        font->face = (const wchar_t*)p;
    }
    return true;
}

BOOL CALLBACK enumDialogRes(HMODULE mod, LPCWSTR type, LPWSTR name, LONG_PTR lp) {
    TemplateSearch* s = (TemplateSearch*)lp;
    HRSRC r = FindResourceW(mod, name, type);
    if (!r) return TRUE;
    HGLOBAL g = LoadResource(mod, r);
    const void* data = g ? LockResource(g) : nullptr;
    if (!data) return TRUE;
    std::wstring cap;
    TemplateFont f;
    if (parseTemplate(data, SizeofResource(mod, r), &cap, &f) && cap == s->caption) {
        s->result = f;
        s->result.found = true;
        return FALSE;
    }
    return TRUE;
}

BaseUnits baseUnitsFor(HWND dlg) {
    BaseUnits b;
    if (g_overrideCx > 0) {
        b.cx = g_overrideCx;
        b.cy = g_overrideCy;
        b.source = L"override";
        return b;
    }
    RECT r = {0, 0, 4, 8};
    if (MapDialogRect(dlg, &r) && r.right > 0 && r.bottom > 0) {
        b.cx = r.right;
        b.cy = r.bottom;
        b.source = L"MapDialogRect";
        return b;
    }
    if (className(dlg) == L"#32770" && g_target && !g_target->exe.empty()) {
        HMODULE mod = LoadLibraryExW(g_target->exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (mod) {
            TemplateSearch s;
            s.caption = captionText(dlg);
            EnumResourceNamesW(mod, RT_DIALOG, enumDialogRes, (LONG_PTR)&s);
            FreeLibrary(mod);
            if (s.result.found && s.result.hasFont && s.result.points != 0x7FFF) {
                b = measureFont(s.result.face, s.result.points, s.result.weight, s.result.italic);
                b.source = L"template font " + s.result.face + L" " + num(s.result.points) + L"pt";
                if (b.cx > 0) return b;
            }
        }
    }
    b = BaseUnits();
    b.source = L"unknown";
    return b;
}

std::wstring toDlu(int px, int base, int div) {
    if (base <= 0) return L"?";
    int v = (int)((px * (double)div) / base + (px >= 0 ? 0.5 : -0.5));
    std::wstring s = num(v);
    if (MulDiv(v, base, div) != px) s += L"~";
    return s;
}

// ---------------------------------------------------------------- icon detection

struct Pixels {
    int w = 0, h = 0;
    std::vector<DWORD> px;  // 0x00RRGGBB, top-down
};

struct Dib {
    HDC dc = nullptr;
    HBITMAP bmp = nullptr;
    HGDIOBJ old = nullptr;
    DWORD* bits = nullptr;
    int w, h;
    Dib(int w_, int h_) : w(w_), h(h_) {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
        BITMAPINFO bi = {};
        bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = -h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 32;
        bi.bmiHeader.biCompression = BI_RGB;
        bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, (void**)&bits, nullptr, 0);
        if (bmp) old = SelectObject(dc, bmp);
    }
    ~Dib() {
        if (bmp) {
            SelectObject(dc, old);
            DeleteObject(bmp);
        }
        if (dc) DeleteDC(dc);
    }
    bool ok() const { return bmp && bits; }
    Pixels take() {
        GdiFlush();
        Pixels p;
        p.w = w;
        p.h = h;
        p.px.resize((size_t)w * h);
        for (size_t i = 0; i < p.px.size(); ++i) p.px[i] = bits[i] & 0xFFFFFF;
        return p;
    }
};

Pixels renderIcon(HICON icon, int w, int h, COLORREF bg) {
    Dib d(w, h);
    if (!d.ok()) return Pixels();
    HBRUSH br = CreateSolidBrush(bg);
    RECT r = {0, 0, w, h};
    FillRect(d.dc, &r, br);
    DeleteObject(br);
    DrawIconEx(d.dc, 0, 0, icon, w, h, 0, nullptr, DI_NORMAL);
    return d.take();
}

Pixels captureScreen(int x, int y, int w, int h) {
    Dib d(w, h);
    if (!d.ok()) return Pixels();
    HDC screen = GetDC(nullptr);
    BitBlt(d.dc, 0, 0, w, h, screen, x, y, SRCCOPY);
    ReleaseDC(nullptr, screen);
    return d.take();
}

inline int ch(DWORD c, int shift) { return (int)((c >> shift) & 0xFF); }

struct IconKind {
    LPCWSTR res;
    const wchar_t* name;
};
const IconKind kIconKinds[] = {
    {IDI_EXCLAMATION, L"warning"},
    {IDI_QUESTION, L"question"},
    {IDI_ASTERISK, L"info"},
    {IDI_HAND, L"error"},
};

// Returns the icon name, or empty when the screen does not show a
// convincing match (yet). *detail receives the scores for diagnostics.
std::wstring iconFromScreen(HWND iconCtl, std::wstring* detail) {
    RECT rc;
    GetClientRect(iconCtl, &rc);
    int w = rc.right, h = rc.bottom;
    if (w <= 0 || h <= 0 || w > 256 || h > 256) return L"";
    POINT org = {0, 0};
    ClientToScreen(iconCtl, &org);
    Pixels shot = captureScreen(org.x, org.y, w, h);
    if (shot.px.empty()) return L"";
    const size_t n = (size_t)w * h;
    Pixels onBlack[4], onWhite[4];
    for (int k = 0; k < 4; ++k) {
        HICON ic = LoadIconW(nullptr, kIconKinds[k].res);
        onBlack[k] = renderIcon(ic, w, h, RGB(0, 0, 0));
        onWhite[k] = renderIcon(ic, w, h, RGB(255, 255, 255));
        if (onBlack[k].px.size() != n || onWhite[k].px.size() != n) return L"";
    }
    // The background is whatever shows through where no icon paints.
    long long sum[3] = {0, 0, 0};
    long long cnt = 0;
    for (size_t i = 0; i < n; ++i) {
        bool clear = true;
        for (int k = 0; k < 4 && clear; ++k)
            clear = onBlack[k].px[i] == 0 && onWhite[k].px[i] == 0xFFFFFF;
        if (!clear) continue;
        for (int c = 0; c < 3; ++c) sum[c] += ch(shot.px[i], c * 8);
        ++cnt;
    }
    int bg[3];
    for (int c = 0; c < 3; ++c) bg[c] = cnt ? (int)(sum[c] / cnt) : ch(shot.px[0], c * 8);
    double err[4];
    for (int k = 0; k < 4; ++k) {
        long long e = 0;
        for (size_t i = 0; i < n; ++i) {
            for (int c = 0; c < 3; ++c) {
                int b = ch(onBlack[k].px[i], c * 8), wv = ch(onWhite[k].px[i], c * 8);
                // Over black we see colour*alpha, over white additionally
                // (1-alpha)*255; so the icon over bg is b + (w-b)*bg/255.
                int expect = b + (wv - b) * bg[c] / 255;
                e += std::abs(ch(shot.px[i], c * 8) - expect);
            }
        }
        err[k] = (double)e / (n * 3);
    }
    int best = 0;
    for (int k = 1; k < 4; ++k)
        if (err[k] < err[best]) best = k;
    double second = 1e9;
    for (int k = 0; k < 4; ++k)
        if (k != best) second = std::min(second, err[k]);
    wchar_t buf[200];
    swprintf(buf, 200, L"screen errors warning=%.2f question=%.2f info=%.2f error=%.2f", err[0], err[1], err[2],
             err[3]);
    if (detail) *detail = buf;
    // A painted, uncovered icon matches almost exactly; the other system
    // icons differ in most of their pixels.
    if (err[best] < 4.0 && second > err[best] * 3 + 4.0) return kIconKinds[best].name;
    return L"";
}

// Returns none|warning|question|info|error, or "" if undecided.
std::wstring boxIcon(HWND box, std::wstring* detail) {
    HWND iconCtl = nullptr;
    for (HWND c : children(box))
        if (isStaticIcon(c)) iconCtl = c;
    if (!iconCtl || !IsWindowVisible(iconCtl)) return L"none";
    DWORD_PTR hIcon = 0;
    if (!SendMessageTimeoutW(iconCtl, STM_GETICON, 0, 0, kSmto, kSmtoTimeout, &hIcon)) return L"";
    if (!hIcon) return L"none";
    for (const IconKind& k : kIconKinds)
        if ((HICON)hIcon == LoadIconW(nullptr, k.res)) {
            if (detail) *detail = L"same handle";
            return k.name;
        }
    return iconFromScreen(iconCtl, detail);
}

// ---------------------------------------------------------------- keys

struct KeySpec {
    UINT vk = 0;
    bool alt = false, ctrl = false, shift = false;
};

UINT vkFromName(const std::wstring& n) {
    struct {
        const wchar_t* name;
        UINT vk;
    } static const names[] = {
        {L"ESCAPE", VK_ESCAPE}, {L"ESC", VK_ESCAPE},   {L"RETURN", VK_RETURN}, {L"ENTER", VK_RETURN},
        {L"TAB", VK_TAB},       {L"SPACE", VK_SPACE},  {L"BACK", VK_BACK},     {L"BACKSPACE", VK_BACK},
        {L"DELETE", VK_DELETE}, {L"DEL", VK_DELETE},   {L"INSERT", VK_INSERT}, {L"HOME", VK_HOME},
        {L"END", VK_END},       {L"PRIOR", VK_PRIOR},  {L"PAGEUP", VK_PRIOR},  {L"NEXT", VK_NEXT},
        {L"PAGEDOWN", VK_NEXT}, {L"LEFT", VK_LEFT},    {L"RIGHT", VK_RIGHT},   {L"UP", VK_UP},
        {L"DOWN", VK_DOWN},     {L"APPS", VK_APPS},
    };
    for (auto& e : names)
        if (ieq(n, e.name)) return e.vk;
    if (n.size() >= 2 && (n[0] == L'F' || n[0] == L'f')) {
        long long f = 0;
        if (tryNumber(n.substr(1), &f) && f >= 1 && f <= 24) return VK_F1 + (UINT)f - 1;
    }
    if (n.size() == 1) {
        wchar_t c = n[0];
        if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
        if ((c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9')) return c;
    }
    return 0;
}

KeySpec parseKeys(const std::wstring& s) {
    KeySpec k;
    size_t start = 0;
    while (start <= s.size()) {
        size_t plus = s.find(L'+', start);
        std::wstring part = s.substr(start, plus == std::wstring::npos ? std::wstring::npos : plus - start);
        if (ieq(part, L"ALT")) k.alt = true;
        else if (ieq(part, L"CTRL") || ieq(part, L"CONTROL")) k.ctrl = true;
        else if (ieq(part, L"SHIFT")) k.shift = true;
        else {
            UINT vk = vkFromName(part);
            if (!vk) fail(L"unknown key name: " + part);
            if (k.vk) fail(L"more than one non-modifier key in: " + s);
            k.vk = vk;
        }
        if (plus == std::wstring::npos) break;
        start = plus + 1;
    }
    if (!k.vk) fail(L"no key in: " + s);
    return k;
}

bool isExtendedKey(UINT vk) {
    switch (vk) {
    case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_HOME: case VK_END:
    case VK_PRIOR: case VK_NEXT: case VK_INSERT: case VK_DELETE: case VK_APPS:
        return true;
    }
    return false;
}

LPARAM keyLParam(UINT vk, bool up, bool alt) {
    LPARAM lp = 1 | ((LPARAM)(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC) & 0xFF) << 16);
    if (isExtendedKey(vk)) lp |= 1 << 24;
    if (alt) lp |= 1 << 29;  // context code: Alt is down
    if (up) lp |= (1u << 30) | (1u << 31);
    return lp;
}

// The control of the current window that has the keyboard focus, or the
// window itself when the focus is elsewhere.
HWND focusTarget(HWND win, bool* isChild) {
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof(gi);
    DWORD tid = GetWindowThreadProcessId(win, nullptr);
    *isChild = false;
    if (GetGUIThreadInfo(tid, &gi) && gi.hwndFocus && (gi.hwndFocus == win || IsChild(win, gi.hwndFocus))) {
        *isChild = gi.hwndFocus != win;
        return gi.hwndFocus;
    }
    return win;
}

void postKey(HWND to, const KeySpec& k) {
    UINT down = k.alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
    UINT up = k.alt ? WM_SYSKEYUP : WM_KEYUP;
    if (k.ctrl) PostMessageW(to, WM_KEYDOWN, VK_CONTROL, keyLParam(VK_CONTROL, false, k.alt));
    if (k.shift) PostMessageW(to, WM_KEYDOWN, VK_SHIFT, keyLParam(VK_SHIFT, false, k.alt));
    PostMessageW(to, down, k.vk, keyLParam(k.vk, false, k.alt));
    PostMessageW(to, up, k.vk, keyLParam(k.vk, true, k.alt));
    if (k.shift) PostMessageW(to, WM_KEYUP, VK_SHIFT, keyLParam(VK_SHIFT, true, k.alt));
    if (k.ctrl) PostMessageW(to, WM_KEYUP, VK_CONTROL, keyLParam(VK_CONTROL, true, k.alt));
}

void sendInputKeys(const KeySpec& k) {
    std::vector<INPUT> in;
    auto add = [&](UINT vk, bool up) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = (WORD)vk;
        i.ki.wScan = (WORD)MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
        i.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (isExtendedKey(vk) ? KEYEVENTF_EXTENDEDKEY : 0);
        in.push_back(i);
    };
    if (k.ctrl) add(VK_CONTROL, false);
    if (k.shift) add(VK_SHIFT, false);
    if (k.alt) add(VK_MENU, false);
    add(k.vk, false);
    add(k.vk, true);
    if (k.alt) add(VK_MENU, true);
    if (k.shift) add(VK_SHIFT, true);
    if (k.ctrl) add(VK_CONTROL, true);
    if (SendInput((UINT)in.size(), in.data(), sizeof(INPUT)) != in.size()) fail(L"SendInput failed");
}

// ---------------------------------------------------------------- settled sends

// Actions are sent from a helper thread so that the driver knows when the
// program has handled them (a following `text` or `check` then sees the
// result) without blocking when the handler enters a modal loop, such as a
// message box opened by a button click. In that case the set of the
// program's visible windows changes, and we continue while the helper thread
// stays blocked until the modal loop ends.
struct SendJob {
    HWND hwnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};

DWORD WINAPI sendJobThread(void* p) {
    SendJob* j = (SendJob*)p;
    SendMessageW(j->hwnd, j->msg, j->wp, j->lp);
    delete j;
    return 0;
}

std::vector<std::pair<HWND, bool>> windowState() {
    std::vector<std::pair<HWND, bool>> r;
    if (!g_target) return r;
    for (HWND h : targetWindows(true)) r.push_back({h, IsWindowEnabled(h) != FALSE});
    return r;
}

const DWORD kSettleMax = 2000;

// Returns true if the message was handled, false if it is still being
// handled (modal loop, slow handler, hung program) after kSettleMax ms or
// when the windows changed.
bool sendSettled(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
    std::vector<std::pair<HWND, bool>> before = windowState();
    HANDLE t = CreateThread(nullptr, 0, sendJobThread, new SendJob{h, msg, wp, lp}, 0, nullptr);
    if (!t) fail(L"CreateThread failed");
    DWORD t0 = GetTickCount();
    bool done = false;
    for (;;) {
        if (WaitForSingleObject(t, g_poll) == WAIT_OBJECT_0) { done = true; break; }
        if (!targetAlive() || windowState() != before || GetTickCount() - t0 > kSettleMax) break;
    }
    CloseHandle(t);
    return done;
}

// ---------------------------------------------------------------- commands

DWORD timeoutArg(const Line& ln, size_t idx) {
    if (ln.args.size() > idx) return (DWORD)parseNumber(ln.args[idx], L"timeout");
    return g_defaultTimeout;
}

void needArgs(const Line& ln, size_t minArgs, size_t maxArgs, const wchar_t* usage) {
    size_t n = ln.args.size() - 1;
    if (n < minArgs || n > maxArgs)
        fail(std::wstring(L"usage: ") + usage + L" (quote arguments that contain blanks)");
}

std::wstring quoteArg(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
    std::wstring r = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') { ++backslashes; continue; }
        if (c == L'"') r.append(backslashes * 2 + 1, L'\\');
        else r.append(backslashes, L'\\');
        backslashes = 0;
        r += c;
    }
    r.append(backslashes * 2, L'\\');
    return r + L"\"";
}

void cmdStart(const Line& ln) {
    if (ln.args.size() < 2) fail(L"usage: start <exe> [<workdir>|- [<arg>...]]");
    std::wstring exe = ln.args[1];
    std::wstring dir = ln.args.size() > 2 ? ln.args[2] : L"-";
    std::wstring cmdline = quoteArg(exe);
    for (size_t i = 3; i < ln.args.size(); ++i) cmdline += L" " + quoteArg(ln.args[i]);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> buf(cmdline.begin(), cmdline.end());
    buf.push_back(0);
    if (!CreateProcessW(exe.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        dir == L"-" ? nullptr : dir.c_str(), &si, &pi))
        fail(L"CreateProcess failed for " + exe + L" (error " + num(GetLastError()) + L")");
    CloseHandle(pi.hThread);
    Target t;
    t.process = pi.hProcess;
    t.pid = pi.dwProcessId;
    wchar_t full[MAX_PATH * 4];
    DWORD len = MAX_PATH * 4;
    t.exe = QueryFullProcessImageNameW(pi.hProcess, 0, full, &len) ? std::wstring(full) : exe;
    g_started.push_back(t);
    g_target = &g_started.back();
    g_cur = g_sel = nullptr;
    emit(L"STARTED pid=" + num(t.pid));
}

struct CaptionSearch {
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK findCaption(HWND h, LPARAM lp) {
    CaptionSearch* s = reinterpret_cast<CaptionSearch*>(lp);
    if (!IsWindowVisible(h) || captionText(h) != *s->caption) return TRUE;
    s->found = h;
    return FALSE;
}

void cmdAttach(const Line& ln) {
    needArgs(ln, 1, 2, L"attach <caption> [ms]");
    DWORD to = timeoutArg(ln, 2);
    CaptionSearch search = {&ln.args[1], nullptr};
    for (DWORD t0 = GetTickCount();;) {
        EnumWindows(findCaption, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) break;
        if (GetTickCount() - t0 >= to) fail(L"no window titled " + ln.args[1] + L" after " + num(to) + L" ms");
        Sleep(g_poll);
    }
    Target t;
    GetWindowThreadProcessId(search.found, &t.pid);
    t.process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                            FALSE, t.pid);
    if (t.process == nullptr) fail(L"OpenProcess failed (error " + num(GetLastError()) + L")");
    wchar_t full[MAX_PATH * 4];
    DWORD len = MAX_PATH * 4;
    if (QueryFullProcessImageNameW(t.process, 0, full, &len)) t.exe = full;
    g_started.push_back(t);
    g_target = &g_started.back();
    g_cur = g_sel = nullptr;
    emit(L"ATTACHED pid=" + num(t.pid));
}

void cmdWaitExit(const Line& ln, bool expect) {
    Target& t = needTarget();
    long long want = 0;
    if (expect) {
        needArgs(ln, 1, 2, L"expect-exit <code> [ms]");
        want = parseNumber(ln.args[1], L"exit code");
    } else {
        needArgs(ln, 0, 1, L"wait-exit [ms]");
    }
    DWORD to = timeoutArg(ln, expect ? 2 : 1);
    if (WaitForSingleObject(t.process, to) != WAIT_OBJECT_0) fail(L"process still running after " + num(to) + L" ms");
    DWORD code = 0;
    GetExitCodeProcess(t.process, &code);
    emit(L"EXIT " + num(code));
    if (expect && (long long)code != want && (long long)(int)code != want)
        fail(L"exit code " + num(code) + L", expected " + num(want));
}

void cmdKill() {
    Target& t = needTarget();
    if (targetAlive()) TerminateProcess(t.process, 1);
    WaitForSingleObject(t.process, 5000);
    emit(L"KILLED pid=" + num(t.pid));
}

// wait-dialog prefers dialogs and wait-window other windows, so a message
// box titled like the main window does not get in the way; either falls
// back to the other kind.
HWND findWindowByCaption(const std::wstring& caption, bool preferDialog) {
    HWND other = nullptr;
    for (HWND h : targetWindows(true)) {
        if (captionText(h) != caption) continue;
        if ((className(h) == L"#32770") == preferDialog) return h;
        if (!other) other = h;
    }
    return other;
}

void cmdWaitDialog(const Line& ln) {
    needArgs(ln, 1, 2, L"wait-dialog <caption> [ms]");
    needTarget();
    DWORD to = timeoutArg(ln, 2);
    DWORD t0 = GetTickCount();
    for (;;) {
        HWND h = findWindowByCaption(ln.args[1], ln.args[0] == L"wait-dialog");
        if (h) {
            g_cur = h;
            g_sel = nullptr;
            emit(L"WINDOW class=" + className(h) + L" caption=" + esc(ln.args[1]));
            return;
        }
        failIfTargetExited(L"window \"" + ln.args[1] + L"\"");
        if (GetTickCount() - t0 > to) {
            std::wstring seen;
            for (HWND w : targetWindows(true)) seen += L" [" + esc(captionText(w)) + L"]";
            fail(L"no window \"" + ln.args[1] + L"\" within " + num(to) + L" ms; visible windows:" +
                 (seen.empty() ? L" none" : seen));
        }
        Sleep(g_poll);
    }
}

std::wstring describeBox(HWND box, const std::wstring& icon) {
    HWND textCtl = boxTextControl(box);
    std::wstring buttons;
    for (HWND b : visibleButtons(box)) {
        std::wstring label = stripMnemonic(windowText(b));
        std::wstring e;
        for (wchar_t c : esc(label)) {
            if (c == L',') e += L"\\,";
            else e += c;
        }
        if (!buttons.empty()) buttons += L",";
        buttons += e;
    }
    return L"BOX caption=" + esc(captionText(box)) + L" text=" + esc(textCtl ? windowText(textCtl) : L"") +
           L" buttons=" + buttons + L" icon=" + icon;
}

void cmdWaitBox(const Line& ln) {
    needArgs(ln, 0, 1, L"wait-box [ms]");
    needTarget();
    DWORD to = timeoutArg(ln, 1);
    DWORD t0 = GetTickCount();
    HWND box = nullptr;
    for (;;) {
        box = findBox();
        if (box) break;
        failIfTargetExited(L"a message box");
        if (GetTickCount() - t0 > to) fail(L"no message box within " + num(to) + L" ms");
        Sleep(g_poll);
    }
    // The icon may be recognisable only once the box is painted on screen.
    std::wstring detail, icon, previous;
    DWORD t1 = GetTickCount();
    bool nudged = false;
    for (;;) {
        std::wstring now = boxIcon(box, &detail);
        // A screen reading must be confirmed by a second one, so that a
        // half-painted box cannot decide it.
        if (!now.empty() && (now == previous || now == L"none" || detail == L"same handle")) {
            icon = now;
            break;
        }
        previous = now;
        if (!IsWindow(box) || GetTickCount() - t1 > 3000) break;
        if (!nudged && GetTickCount() - t1 > 500) {
            RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_ERASE);
            nudged = true;
        }
        Sleep(50);
    }
    if (icon.empty()) {
        icon = L"unknown";
        emit(L"NOTE icon not recognised: " + detail);
    }
    g_cur = box;
    g_sel = nullptr;
    emit(describeBox(box, icon));
}

void cmdNoBox(const Line& ln) {
    needArgs(ln, 1, 1, L"no-box <ms>");
    needTarget();
    DWORD to = (DWORD)parseNumber(ln.args[1], L"ms");
    DWORD t0 = GetTickCount();
    for (;;) {
        HWND box = findBox();
        if (box) fail(L"unexpected message box: " + describeBox(box, L"?"));
        if (GetTickCount() - t0 > to) break;
        Sleep(g_poll);
    }
    emit(L"NO-BOX");
}

void cmdWindows() {
    for (HWND h : targetWindows(false)) {
        RECT r;
        GetWindowRect(h, &r);
        emit(L"WIN hwnd=" + hex((unsigned long)(ULONG_PTR)h) + L" class=" + className(h) +
             L" visible=" + num(IsWindowVisible(h) ? 1 : 0) + L" enabled=" + num(IsWindowEnabled(h) ? 1 : 0) +
             L" box=" + num(isMessageBox(h) ? 1 : 0) + L" rect=" + num(r.left) + L"," + num(r.top) + L"," +
             num(r.right - r.left) + L"," + num(r.bottom - r.top) + L" caption=" + esc(captionText(h)));
    }
}

bool curGone() {
    if (!IsWindow(g_cur) || !IsWindowVisible(g_cur)) return true;
    DWORD p = 0;
    GetWindowThreadProcessId(g_cur, &p);
    return !g_target || p != g_target->pid;
}

void cmdExists() {
    if (!g_cur) fail(L"no current window");
    if (curGone()) fail(L"current window does not exist any more");
    emit(L"EXISTS");
}

void cmdGone(const Line& ln) {
    needArgs(ln, 0, 1, L"gone [ms]");
    if (!g_cur) fail(L"no current window");
    DWORD to = timeoutArg(ln, 1);
    DWORD t0 = GetTickCount();
    while (!curGone()) {
        if (GetTickCount() - t0 > to) fail(L"current window still exists after " + num(to) + L" ms");
        Sleep(g_poll);
    }
    emit(L"GONE");
}

void emitRect(HWND h) {
    RECT r;
    GetWindowRect(h, &r);
    emit(L"RECT x=" + num(r.left) + L" y=" + num(r.top) + L" w=" + num(r.right - r.left) + L" h=" +
         num(r.bottom - r.top));
}

std::wstring ctrlFlags(HWND c, HWND focus) {
    std::wstring f;
    auto add = [&](const wchar_t* s) {
        if (!f.empty()) f += L",";
        f += s;
    };
    add(IsWindowVisible(c) ? L"visible" : L"hidden");
    add(IsWindowEnabled(c) ? L"enabled" : L"disabled");
    if (c == focus) add(L"focus");
    return f;
}

void cmdControls() {
    HWND cur = needCur();
    RECT cr;
    GetClientRect(cur, &cr);
    BaseUnits bu = baseUnitsFor(cur);
    emit(L"WINDOW class=" + className(cur) + L" client=" + num(cr.right) + L"x" + num(cr.bottom) +
         L" base=" + num(bu.cx) + L"," + num(bu.cy) + L" (" + bu.source + L") caption=" + esc(captionText(cur)));
    bool isChild;
    HWND focus = focusTarget(cur, &isChild);
    for (HWND c : children(cur)) {
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(HWND_DESKTOP, cur, (POINT*)&r, 2);
        int w = r.right - r.left, h = r.bottom - r.top;
        emit(L"CTRL id=" + num(ctrlId(c)) + L" class=" + className(c) + L" rect=" + num(r.left) + L"," +
             num(r.top) + L"," + num(w) + L"," + num(h) + L" dlu=" + toDlu(r.left, bu.cx, 4) + L"," +
             toDlu(r.top, bu.cy, 8) + L"," + toDlu(w, bu.cx, 4) + L"," + toDlu(h, bu.cy, 8) + L" style=" +
             hex((unsigned long)GetWindowLongW(c, GWL_STYLE)) + L" ex=" +
             hex((unsigned long)GetWindowLongW(c, GWL_EXSTYLE)) + L" flags=" + ctrlFlags(c, focus) +
             L" text=" + esc(windowText(c)));
    }
}

void cmdFindControl(const Line& ln) {
    needArgs(ln, 2, 3, L"find-control <class|*> <text|*> [n]");
    HWND cur = needCur();
    long long nth = ln.args.size() > 3 ? parseNumber(ln.args[3], L"index") : 1;
    long long seen = 0;
    for (HWND c : children(cur)) {
        if (ln.args[1] != L"*" && !ieq(className(c), ln.args[1])) continue;
        if (ln.args[2] != L"*" && !labelMatches(windowText(c), ln.args[2])) continue;
        if (++seen == nth) {
            g_sel = c;
            emit(L"FOUND id=" + num(ctrlId(c)) + L" class=" + className(c) + L" text=" + esc(windowText(c)));
            return;
        }
    }
    fail(L"no control of class " + ln.args[1] + L" with text \"" + ln.args[2] + L"\" (match " + num(nth) + L")");
}

void cmdText(const Line& ln) {
    needArgs(ln, 1, 1, L"text <ctl>");
    emit(L"TEXT " + ln.args[1] + L"=" + esc(windowText(resolveCtl(ln.args[1]))));
}

void cmdExpectText(const Line& ln) {
    needArgs(ln, 2, 2, L"expect-text <ctl> <text>");
    std::wstring t = windowText(resolveCtl(ln.args[1]));
    emit(L"TEXT " + ln.args[1] + L"=" + esc(t));
    if (t != ln.args[2]) fail(L"text of " + ln.args[1] + L" is \"" + esc(t) + L"\", expected \"" + esc(ln.args[2]) + L"\"");
}

void cmdWaitText(const Line& ln) {
    needArgs(ln, 2, 3, L"wait-text <ctl> <text> [ms]");
    DWORD to = timeoutArg(ln, 3);
    DWORD t0 = GetTickCount();
    std::wstring t;
    for (;;) {
        t = windowText(resolveCtl(ln.args[1]));
        if (t == ln.args[2]) break;
        failIfTargetExited(L"text of " + ln.args[1]);
        if (GetTickCount() - t0 > to)
            fail(L"text of " + ln.args[1] + L" still \"" + esc(t) + L"\" after " + num(to) + L" ms, expected \"" +
                 esc(ln.args[2]) + L"\"");
        Sleep(g_poll);
    }
    emit(L"TEXT " + ln.args[1] + L"=" + esc(t));
}

void cmdCaption(const Line& ln) {
    needArgs(ln, 1, 1, L"expect-caption <text>");
    std::wstring t = captionText(needCur());
    emit(L"CAPTION " + esc(t));
    if (t != ln.args[1]) fail(L"caption is \"" + esc(t) + L"\", expected \"" + esc(ln.args[1]) + L"\"");
}

void cmdSetText(const Line& ln) {
    needArgs(ln, 2, 2, L"settext <ctl> <text>");
    HWND c = resolveCtl(ln.args[1]);
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(c, WM_SETTEXT, 0, (LPARAM)ln.args[2].c_str(), kSmto, kSmtoTimeout, &r))
        fail(L"WM_SETTEXT timed out");
    if (!r) fail(L"control refused WM_SETTEXT");
}

HWND resolveButton(const std::wstring& ref) {
    HWND cur = needCur();
    long long id;
    if (ref == L"@" ) return resolveCtl(ref);
    if (tryNumber(ref, &id)) {
        if (HWND h = controlById(cur, id)) return h;
    }
    std::wstring have;
    for (HWND b : visibleButtons(cur)) {
        std::wstring t = windowText(b);
        if (labelMatches(t, ref)) return b;
        have += L" [" + esc(t) + L"]";
    }
    fail(L"no button \"" + ref + L"\"; buttons:" + (have.empty() ? L" none" : have));
}

void cmdPress(const Line& ln) {
    needArgs(ln, 1, 1, L"press <ctl|label>");
    HWND b = resolveButton(ln.args[1]);
    if (!IsWindowVisible(b)) fail(L"control " + ln.args[1] + L" is hidden");
    if (!IsWindowEnabled(b)) fail(L"control " + ln.args[1] + L" is disabled");
    // Also refuse when the whole window is disabled (e.g. a modal box is up):
    // a user could not click it either.
    HWND root = GetAncestor(b, GA_ROOT);
    if (root && !IsWindowEnabled(root)) fail(L"window of " + ln.args[1] + L" is disabled (modal box open?)");
    sendSettled(b, BM_CLICK, 0, 0);
}

int getCheck(HWND c) {
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutW(c, BM_GETCHECK, 0, 0, kSmto, kSmtoTimeout, &r)) fail(L"BM_GETCHECK timed out");
    return (int)r;
}

void cmdCheck(const Line& ln, bool expect) {
    needArgs(ln, expect ? 2 : 1, expect ? 2 : 1, expect ? L"expect-check <ctl> <0|1|2>" : L"check <ctl>");
    int v = getCheck(resolveCtl(ln.args[1]));
    emit(L"CHECK " + ln.args[1] + L"=" + num(v));
    if (expect && v != parseNumber(ln.args[2], L"check state"))
        fail(L"check state of " + ln.args[1] + L" is " + num(v) + L", expected " + ln.args[2]);
}

void cmdExpectFlag(const Line& ln, bool enabled) {
    needArgs(ln, 2, 2, enabled ? L"expect-enabled <ctl> <0|1>" : L"expect-visible <ctl> <0|1>");
    HWND c = resolveCtl(ln.args[1]);
    int v = enabled ? (IsWindowEnabled(c) ? 1 : 0) : (IsWindowVisible(c) ? 1 : 0);
    const wchar_t* what = enabled ? L"ENABLED " : L"VISIBLE ";
    emit(what + ln.args[1] + L"=" + num(v));
    if (v != parseNumber(ln.args[2], L"flag"))
        fail(std::wstring(enabled ? L"enabled" : L"visible") + L" state of " + ln.args[1] + L" is " + num(v) +
             L", expected " + ln.args[2]);
}

bool isCombo(HWND c) { return ieq(className(c), L"ComboBox"); }
bool isList(HWND c) { return ieq(className(c), L"ListBox"); }

std::vector<std::wstring> listItems(HWND c) {
    bool combo = isCombo(c);
    if (!combo && !isList(c)) fail(L"not a combo box or list box: " + className(c));
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutW(c, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0, kSmto, kSmtoTimeout, &count))
        fail(L"item count timed out");
    std::vector<std::wstring> items;
    for (DWORD_PTR i = 0; i < count && (LONG_PTR)count > 0; ++i) {
        DWORD_PTR len = 0;
        SendMessageTimeoutW(c, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0, kSmto, kSmtoTimeout, &len);
        if ((LONG_PTR)len < 0) len = 0;
        std::vector<wchar_t> buf(len + 64, 0);
        DWORD_PTR got = 0;
        SendMessageTimeoutW(c, combo ? CB_GETLBTEXT : LB_GETTEXT, i, (LPARAM)buf.data(), kSmto, kSmtoTimeout, &got);
        buf.back() = 0;
        items.push_back(buf.data());
    }
    return items;
}

void cmdItems(const Line& ln) {
    needArgs(ln, 1, 1, L"items <ctl>");
    HWND c = resolveCtl(ln.args[1]);
    std::vector<std::wstring> items = listItems(c);
    for (size_t i = 0; i < items.size(); ++i) emit(L"ITEM " + num(i) + L"=" + esc(items[i]));
}

void cmdSelect(const Line& ln) {
    needArgs(ln, 2, 2, L"select <ctl> <item text>");
    HWND c = resolveCtl(ln.args[1]);
    std::vector<std::wstring> items = listItems(c);
    auto it = std::find(items.begin(), items.end(), ln.args[2]);
    if (it == items.end()) fail(L"no item \"" + ln.args[2] + L"\" in " + ln.args[1]);
    WPARAM idx = it - items.begin();
    bool combo = isCombo(c);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(c, combo ? CB_SETCURSEL : LB_SETCURSEL, idx, 0, kSmto, kSmtoTimeout, &r);
    if ((LONG_PTR)r == -1 && !(!combo && (GetWindowLongW(c, GWL_STYLE) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL))))
        fail(L"selection refused");
    // Setting the selection by message does not notify the parent; a user's
    // choice does, and the program reacts to that notification.
    WORD code = combo ? CBN_SELCHANGE : LBN_SELCHANGE;
    sendSettled(GetParent(c), WM_COMMAND, MAKEWPARAM(ctrlId(c) & 0xFFFF, code), (LPARAM)c);
    emit(L"SELECTED " + ln.args[1] + L"=" + num(idx));
}

void cmdFocus(const Line& ln, bool expect) {
    needArgs(ln, expect ? 1 : 0, expect ? 1 : 0, expect ? L"expect-focus <ctl>" : L"focus");
    HWND cur = needCur();
    bool isChild;
    HWND f = focusTarget(cur, &isChild);
    if (!isChild) emit(L"FOCUS none");
    else emit(L"FOCUS id=" + num(ctrlId(f)) + L" class=" + className(f) + L" text=" + esc(windowText(f)));
    if (expect) {
        HWND want = resolveCtl(ln.args[1]);
        if (!isChild || f != want) fail(L"focus is not on " + ln.args[1]);
    }
}

void cmdWaitFocus(const Line& ln) {
    needArgs(ln, 1, 2, L"wait-focus <ctl> [ms]");
    DWORD to = timeoutArg(ln, 2);
    DWORD t0 = GetTickCount();
    for (;;) {
        HWND want = resolveCtl(ln.args[1]);
        bool isChild;
        HWND f = focusTarget(needCur(), &isChild);
        if (isChild && f == want) {
            emit(L"FOCUS id=" + num(ctrlId(f)) + L" class=" + className(f) + L" text=" + esc(windowText(f)));
            return;
        }
        failIfTargetExited(L"focus on " + ln.args[1]);
        if (GetTickCount() - t0 > to) {
            std::wstring where = isChild ? L"id " + num(ctrlId(f)) + L" (" + className(f) + L")" : L"no control";
            fail(L"focus is on " + where + L", not on " + ln.args[1] + L" after " + num(to) + L" ms");
        }
        Sleep(g_poll);
    }
}

// Why the current window cannot take a posted key yet, or an empty text when it can.
std::wstring notTakingKeys(HWND cur) {
    if (!IsWindowEnabled(cur)) return L"it is disabled";
    GUITHREADINFO gi = {};
    gi.cbSize = sizeof(gi);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(cur, nullptr), &gi) || gi.hwndActive != cur)
        return L"it is not the active window (active: " +
               (gi.hwndActive ? L"\"" + esc(captionText(gi.hwndActive)) + L"\"" : std::wstring(L"none")) + L")";
    for (HWND h : targetWindows(false))
        if (!IsWindowVisible(h) && isMessageBox(h)) return L"a message box is still closing";
    return std::wstring();
}

// Waits until the current window takes posted keys (see the notes at the top).
HWND waitTakingKeys() {
    HWND cur = needCur();
    DWORD to = g_defaultTimeout;
    DWORD t0 = GetTickCount();
    for (;;) {
        std::wstring why = notTakingKeys(cur);
        if (why.empty()) return cur;
        failIfTargetExited(L"the window to take keys");
        if (!IsWindow(cur)) fail(L"current window no longer exists");
        if (GetTickCount() - t0 > to) fail(L"the current window takes no keys after " + num(to) + L" ms: " + why);
        Sleep(g_poll);
    }
}

void cmdKey(const Line& ln) {
    needArgs(ln, 1, 1, L"key <keys>");
    KeySpec k = parseKeys(ln.args[1]);
    bool isChild;
    HWND to = focusTarget(waitTakingKeys(), &isChild);
    postKey(to, k);
}

void cmdInput(const Line& ln) {
    needArgs(ln, 1, 1, L"input <keys>");
    KeySpec k = parseKeys(ln.args[1]);
    HWND cur = needCur();
    SetForegroundWindow(cur);
    DWORD t0 = GetTickCount();
    while (GetForegroundWindow() != cur && GetTickCount() - t0 < 1000) Sleep(g_poll);
    if (GetForegroundWindow() != cur) fail(L"could not bring the current window to the foreground");
    sendInputKeys(k);
}

void cmdType(const Line& ln) {
    needArgs(ln, 1, 1, L"type <text>");
    bool isChild;
    HWND to = focusTarget(waitTakingKeys(), &isChild);
    for (wchar_t c : ln.args[1]) PostMessageW(to, WM_CHAR, c, 1);
}

void cmdSysCommand(const Line& ln) {
    needArgs(ln, 1, 1, L"syscommand <close|minimize|maximize|restore>");
    WPARAM sc;
    if (ieq(ln.args[1], L"close")) sc = SC_CLOSE;
    else if (ieq(ln.args[1], L"minimize")) sc = SC_MINIMIZE;
    else if (ieq(ln.args[1], L"maximize")) sc = SC_MAXIMIZE;
    else if (ieq(ln.args[1], L"restore")) sc = SC_RESTORE;
    else fail(L"unknown system command: " + ln.args[1]);
    sendSettled(needCur(), WM_SYSCOMMAND, sc, 0);
}

void cmdCommand(const Line& ln) {
    needArgs(ln, 1, 1, L"command <id>");
    long long id = parseNumber(ln.args[1], L"command id");
    sendSettled(needCur(), WM_COMMAND, MAKEWPARAM((WORD)id, 0), 0);
}

// The program frees the HDROP with DragFinish, as one from the shell; the block is taken
// from the target's memory because an HDROP is a pointer of the process that receives it.
void cmdDrop(const Line& ln) {
    needArgs(ln, 2, 64, L"drop <ctl> <path>...");
    HWND c = resolveCtl(ln.args[1]);
    HWND taker = c;
    while (taker && !(GetWindowLongW(taker, GWL_EXSTYLE) & WS_EX_ACCEPTFILES)) taker = GetParent(taker);
    if (!taker) fail(L"neither control " + ln.args[1] + L" nor a window around it takes drops (WS_EX_ACCEPTFILES)");
    RECT r;
    GetWindowRect(c, &r);
    POINT pt = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    ScreenToClient(taker, &pt);
    std::wstring paths;
    for (size_t i = 2; i < ln.args.size(); ++i) paths += ln.args[i] + L'\0';
    paths += L'\0';
    std::vector<char> block(sizeof(DROPFILES) + paths.size() * sizeof(wchar_t));
    DROPFILES* files = reinterpret_cast<DROPFILES*>(block.data());
    files->pFiles = sizeof(DROPFILES);
    files->pt = pt;
    files->fNC = FALSE;
    files->fWide = TRUE;
    memcpy(block.data() + sizeof(DROPFILES), paths.data(), paths.size() * sizeof(wchar_t));
    HANDLE process = needTarget().process;
    void* remote = VirtualAllocEx(process, nullptr, block.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!remote) fail(L"VirtualAllocEx failed: " + num(GetLastError()));
    SIZE_T written = 0;
    if (!WriteProcessMemory(process, remote, block.data(), block.size(), &written) || written != block.size())
        fail(L"WriteProcessMemory failed: " + num(GetLastError()));
    sendSettled(taker, WM_DROPFILES, (WPARAM)remote, 0);
}

DWORD WINAPI readAckThread(void*) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    char c;
    DWORD n;
    while (ReadFile(in, &c, 1, &n, nullptr) && n == 1)
        if (c == '\n') return 0;
    return 1;  // EOF: the harness is gone, nothing to wait for
}

void snapshot(const std::wstring& name, HWND win) {
    RECT r;
    if (win && IsWindow(win)) {
        GetWindowRect(win, &r);
    } else {
        r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    emit(L"SNAPSHOT name=" + name + L" x=" + num(r.left) + L" y=" + num(r.top) + L" w=" + num(r.right - r.left) +
         L" h=" + num(r.bottom - r.top));
    if (!g_ack) return;
    HANDLE t = CreateThread(nullptr, 0, readAckThread, nullptr, 0, nullptr);
    if (!t) fail(L"CreateThread failed");
    DWORD w = WaitForSingleObject(t, 60000);
    CloseHandle(t);
    if (w != WAIT_OBJECT_0) fail(L"no acknowledgement for snapshot " + name);
}

void cmdSnapshot(const Line& ln) {
    needArgs(ln, 0, 1, L"snapshot [<name>]");
    ++g_snapshots;
    std::wstring name = ln.args.size() > 1 ? ln.args[1] : L"snapshot" + num(g_snapshots);
    for (wchar_t c : name)
        if (!(iswalnum(c) || c == L'-' || c == L'_' || c == L'.'))
            fail(L"snapshot names may only use letters, digits, '-', '_' and '.'");
    snapshot(name, g_cur && IsWindow(g_cur) ? g_cur : nullptr);
}

void cmdDpiAware() {
    // Newer systems know per-monitor awareness; Vista and later know the system-wide kind.
    typedef BOOL(WINAPI * ContextFn)(HANDLE);
    typedef BOOL(WINAPI * AwareFn)(void);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    FARPROC context = GetProcAddress(user32, "SetProcessDpiAwarenessContext");
    FARPROC aware = GetProcAddress(user32, "SetProcessDPIAware");
    bool done = false;
    if (context) {
        ContextFn fn;
        memcpy(&fn, &context, sizeof fn);
        done = fn(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))) != FALSE;  // per monitor, v2
    }
    if (!done && aware) {
        AwareFn fn;
        memcpy(&fn, &aware, sizeof fn);
        done = fn() != FALSE;
    }
    if (!done) fail(L"could not make the driver DPI-aware");
    HDC dc = GetDC(nullptr);
    emit(L"DPI system=" + num(GetDeviceCaps(dc, LOGPIXELSY)));
    ReleaseDC(nullptr, dc);
}

void cmdTextExtent(const Line& ln) {
    needArgs(ln, 4, 4, L"text-extent <face> <pixels> <weight> <text>");
    HDC dc = GetDC(nullptr);
    HFONT f = CreateFontW(-(int)parseNumber(ln.args[2], L"pixels"), 0, 0, 0, (int)parseNumber(ln.args[3], L"weight"),
                          FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                          DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, ln.args[1].c_str());
    if (!f) {
        ReleaseDC(nullptr, dc);
        fail(L"could not make the font " + ln.args[1]);
    }
    HGDIOBJ old = SelectObject(dc, f);
    RECT r = {0, 0, 0, 0};
    DrawTextW(dc, ln.args[4].c_str(), -1, &r, DT_SINGLELINE | DT_CALCRECT);
    SelectObject(dc, old);
    DeleteObject(f);
    ReleaseDC(nullptr, dc);
    emit(L"EXTENT w=" + num(r.right - r.left) + L" h=" + num(r.bottom - r.top));
}

void cmdCharPos(const Line& ln) {
    needArgs(ln, 2, 2, L"char-pos <ctl> <index>");
    HWND h = resolveCtl(ln.args[1]);
    LRESULT pos = SendMessageW(h, EM_POSFROMCHAR, (WPARAM)parseNumber(ln.args[2], L"index"), 0);
    if (pos == -1) fail(L"no such character in control " + ln.args[1]);
    emit(L"POS x=" + num((short)LOWORD(pos)) + L" y=" + num((short)HIWORD(pos)));
}

// Milliseconds of a steady clock, so that a script can time what it drives: the bench takes
// the difference of two readings.
void cmdClock() {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    wchar_t text[64];
    swprintf(text, 64, L"CLOCK ms=%.3f", (double)now.QuadPart * 1000.0 / (double)frequency.QuadPart);
    emit(text);
}

void runCommand(const Line& ln) {
    const std::wstring& c = ln.args[0];
    if (c == L"echo") emit(ln.rest);
    else if (c == L"sleep") { needArgs(ln, 1, 1, L"sleep <ms>"); Sleep((DWORD)parseNumber(ln.args[1], L"ms")); }
    else if (c == L"snapshot") cmdSnapshot(ln);
    else if (c == L"timeout") { needArgs(ln, 1, 1, L"timeout <ms>"); g_defaultTimeout = (DWORD)parseNumber(ln.args[1], L"ms"); }
    else if (c == L"poll") { needArgs(ln, 1, 1, L"poll <ms>"); g_poll = std::max<DWORD>(1, (DWORD)parseNumber(ln.args[1], L"ms")); }
    else if (c == L"clock") cmdClock();
    else if (c == L"start") cmdStart(ln);
    else if (c == L"attach") cmdAttach(ln);
    else if (c == L"wait-exit") cmdWaitExit(ln, false);
    else if (c == L"expect-exit") cmdWaitExit(ln, true);
    else if (c == L"kill") cmdKill();
    else if (c == L"detach") g_detach = true;
    else if (c == L"wait-dialog" || c == L"wait-window") cmdWaitDialog(ln);
    else if (c == L"wait-box") cmdWaitBox(ln);
    else if (c == L"no-box") cmdNoBox(ln);
    else if (c == L"windows") cmdWindows();
    else if (c == L"codepage") emit(L"CODEPAGE acp=" + num(GetACP()) + L" oemcp=" + num(GetOEMCP()));
    else if (c == L"exists") cmdExists();
    else if (c == L"gone") cmdGone(ln);
    else if (c == L"expect-caption") cmdCaption(ln);
    else if (c == L"rect") { needArgs(ln, 0, 1, L"rect [<ctl>]"); emitRect(ln.args.size() > 1 ? resolveCtl(ln.args[1]) : needCur()); }
    else if (c == L"activate") { SetForegroundWindow(needCur()); }
    else if (c == L"controls") cmdControls();
    else if (c == L"find-control") cmdFindControl(ln);
    else if (c == L"text") cmdText(ln);
    else if (c == L"expect-text") cmdExpectText(ln);
    else if (c == L"wait-text") cmdWaitText(ln);
    else if (c == L"settext") cmdSetText(ln);
    else if (c == L"press") cmdPress(ln);
    else if (c == L"check") cmdCheck(ln, false);
    else if (c == L"expect-check") cmdCheck(ln, true);
    else if (c == L"expect-enabled") cmdExpectFlag(ln, true);
    else if (c == L"expect-visible") cmdExpectFlag(ln, false);
    else if (c == L"items") cmdItems(ln);
    else if (c == L"select") cmdSelect(ln);
    else if (c == L"focus") cmdFocus(ln, false);
    else if (c == L"expect-focus") cmdFocus(ln, true);
    else if (c == L"wait-focus") cmdWaitFocus(ln);
    else if (c == L"dialog-font") {
        needArgs(ln, 2, 2, L"dialog-font <face> <points>");
        BaseUnits b = measureFont(ln.args[1], (int)parseNumber(ln.args[2], L"points"), FW_NORMAL, false);
        if (b.cx <= 0) fail(L"could not measure font " + ln.args[1]);
        g_overrideCx = b.cx;
        g_overrideCy = b.cy;
        emit(L"BASE " + num(b.cx) + L"," + num(b.cy));
    } else if (c == L"dialog-units") {
        needArgs(ln, 2, 2, L"dialog-units <cx> <cy>");
        g_overrideCx = (int)parseNumber(ln.args[1], L"cx");
        g_overrideCy = (int)parseNumber(ln.args[2], L"cy");
    }
    else if (c == L"dpi-aware") cmdDpiAware();
    else if (c == L"text-extent") cmdTextExtent(ln);
    else if (c == L"char-pos") cmdCharPos(ln);
    else if (c == L"key") cmdKey(ln);
    else if (c == L"input") cmdInput(ln);
    else if (c == L"type") cmdType(ln);
    else if (c == L"syscommand") cmdSysCommand(ln);
    else if (c == L"command") cmdCommand(ln);
    else if (c == L"drop") cmdDrop(ln);
    else fail(L"unknown command: " + c);
}

bool readAll(HANDLE h, std::string* out) {
    char buf[4096];
    DWORD n = 0;
    for (;;) {
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) return GetLastError() == ERROR_BROKEN_PIPE;
        if (n == 0) return true;
        out->append(buf, n);
    }
}

void cleanup() {
    if (g_detach) return;
    for (Target& t : g_started) {
        if (WaitForSingleObject(t.process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(t.process, 1);
            WaitForSingleObject(t.process, 5000);
            emit(L"KILLED pid=" + num(t.pid));
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode;
    g_outIsConsole = GetConsoleMode(g_out, &mode) != 0;
    // A later `start` would otherwise be stuck with our error mode; and a
    // crash dialog in the driver itself must not hang a test run.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);

    std::string script;
    const wchar_t* scriptPath = nullptr;
    bool usage = false;
    for (int i = 1; i < argc; ++i) {
        if (!wcscmp(argv[i], L"--ack")) g_ack = true;
        else if (argv[i][0] == L'-' || scriptPath) usage = true;
        else scriptPath = argv[i];
    }
    if (usage || (g_ack && !scriptPath)) {
        emit(L"usage: vxdriver.exe [--ack] [script-file]   (reads the script from stdin without a file; "
             L"--ack needs a file; the command list is at the top of vxdriver.cpp)");
        return 2;
    }
    if (scriptPath) {
        HANDLE f = CreateFileW(scriptPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            emit(L"FAIL: cannot open script " + std::wstring(scriptPath) + L" (error " + num(GetLastError()) + L")");
            return 2;
        }
        readAll(f, &script);
        CloseHandle(f);
    } else {
        readAll(GetStdHandle(STD_INPUT_HANDLE), &script);
    }
    if (script.size() >= 3 && (unsigned char)script[0] == 0xEF && (unsigned char)script[1] == 0xBB &&
        (unsigned char)script[2] == 0xBF)
        script.erase(0, 3);

    std::wstring text = fromUtf8(script);
    size_t pos = 0;
    int lineNo = 0;
    int rc = 0;
    while (pos <= text.size() && rc == 0) {
        size_t nl = text.find(L'\n', pos);
        std::wstring raw = text.substr(pos, nl == std::wstring::npos ? std::wstring::npos : nl - pos);
        pos = nl == std::wstring::npos ? text.size() + 1 : nl + 1;
        ++lineNo;
        size_t first = raw.find_first_not_of(L" \t\r");
        if (first == std::wstring::npos || raw[first] == L'#') continue;
        try {
            Line ln = parseLine(raw);
            if (ln.args.empty()) continue;
            emit(L"> " + ln.raw);
            runCommand(ln);
        } catch (const Failure& f) {
            emit(L"FAIL: " + f.msg + L" (line " + num(lineNo) + L")");
            rc = 1;
            if (g_ack) {
                try {
                    snapshot(L"failure", nullptr);
                } catch (const Failure&) {
                }
            }
        }
    }
    cleanup();
    return rc;
}
