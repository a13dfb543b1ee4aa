// vxsample: a small GUI program with known behaviour that test_driver.py
// drives through vxdriver, so the driver itself is tested against real
// message boxes, a resource dialog and a plain window. Every outcome the user
// can cause is reflected in the exit code, which the tests check.
//
//   vxsample box <question|warning|info|error|plain>
//                     one message box; exit code = MessageBox result
//   vxsample twoboxes two boxes in a row; exit code = first*10 + second
//   vxsample late     a box that appears only after 1.5 s
//   vxsample where    a box "場所" whose text is "cwd=<dir>\nexe=<path>"
//   vxsample dialog   the 設定 dialog; exit code 2 when cancelled, otherwise
//                     100 + 1 (checkbox on) + 2 (name is 日本語の名前)
//                     + 4 * selected size index
//   vxsample window   an overlapped window "サンプル ウィンドウ" with an edit
//                     and two buttons without ids ("開く", "終了"); "終了"
//                     exits with 10 + length of the edit text, closing asks
//                     "終了しますか？" and exits with 3 on はい

#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include <cwchar>
#include <string>

#include "sample_ids.h"

namespace {

int box(const wchar_t* kind) {
    if (!wcscmp(kind, L"question"))
        return MessageBoxW(nullptr, L"ファイル「テスト.txt」を保存できませんでした。\n続行しますか？", L"エラー",
                           MB_OKCANCEL | MB_ICONQUESTION);
    if (!wcscmp(kind, L"warning"))
        return MessageBoxW(nullptr, L"上書きしますか？", L"警告", MB_YESNO | MB_ICONWARNING);
    if (!wcscmp(kind, L"info"))
        return MessageBoxW(nullptr, L"完了しました。", L"情報", MB_OK | MB_ICONINFORMATION);
    if (!wcscmp(kind, L"error"))
        return MessageBoxW(nullptr, L"読み込みに失敗しました。", L"エラー", MB_RETRYCANCEL | MB_ICONERROR);
    if (!wcscmp(kind, L"plain"))
        return MessageBoxW(nullptr, L"アイコンなし", L"Vexorin", MB_OK);
    return 99;
}

bool g_initializing = false;

void setStatus(HWND dlg, const std::wstring& s) { SetDlgItemTextW(dlg, IDC_STATUS, s.c_str()); }

INT_PTR CALLBACK settingsProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG: {
        // Filling the edit sends EN_CHANGE; that is not a user change.
        g_initializing = true;
        SetDlgItemTextW(dlg, IDC_NAME, L"初期値");
        g_initializing = false;
        HWND combo = GetDlgItem(dlg, IDC_SIZE_LIST);
        for (const wchar_t* s : {L"小", L"中", L"大"}) SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)s);
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wp)) {
        case IDC_NAME:
            if (HIWORD(wp) == EN_CHANGE && !g_initializing) {
                setStatus(dlg, L"状態: 変更あり");
                EnableWindow(GetDlgItem(dlg, IDC_APPLY), TRUE);
            }
            return TRUE;
        case IDC_SIZE_LIST:
            if (HIWORD(wp) == CBN_SELCHANGE) {
                wchar_t item[64] = {0};
                LRESULT sel = SendDlgItemMessageW(dlg, IDC_SIZE_LIST, CB_GETCURSEL, 0, 0);
                SendDlgItemMessageW(dlg, IDC_SIZE_LIST, CB_GETLBTEXT, sel, (LPARAM)item);
                setStatus(dlg, std::wstring(L"状態: サイズ=") + item);
            }
            return TRUE;
        case IDC_APPLY:
            setStatus(dlg, L"状態: 適用済み");
            EnableWindow(GetDlgItem(dlg, IDC_APPLY), FALSE);
            return TRUE;
        case IDC_BROWSE:
            MessageBoxW(dlg, L"参照は未実装です。", L"参照", MB_OK | MB_ICONINFORMATION);
            return TRUE;
        case IDOK: {
            wchar_t name[256] = {0};
            GetDlgItemTextW(dlg, IDC_NAME, name, 256);
            int code = 100;
            if (IsDlgButtonChecked(dlg, IDC_ENABLE) == BST_CHECKED) code += 1;
            if (!wcscmp(name, L"日本語の名前")) code += 2;
            code += 4 * (int)SendDlgItemMessageW(dlg, IDC_SIZE_LIST, CB_GETCURSEL, 0, 0);
            EndDialog(dlg, code);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dlg, 2);
            return TRUE;
        }
        break;
    }
    return FALSE;
}

HWND g_edit, g_open, g_quit;
int g_exitCode = 0;

LRESULT CALLBACK windowProc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: {
        HINSTANCE inst = ((CREATESTRUCTW*)lp)->hInstance;
        // No control ids on purpose: the driver must find these by class/text.
        g_edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"Edit", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                 10, 10, 200, 24, w, nullptr, inst, nullptr);
        g_open = CreateWindowW(L"Button", L"開く", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 10, 50, 80,
                               28, w, nullptr, inst, nullptr);
        g_quit = CreateWindowW(L"Button", L"終了", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 100, 50, 80,
                               28, w, nullptr, inst, nullptr);
        HFONT f = (HFONT)GetStockObject(DEFAULT_GUI_FONT);
        for (HWND c : {g_edit, g_open, g_quit}) SendMessageW(c, WM_SETFONT, (WPARAM)f, FALSE);
        return 0;
    }
    case WM_SETFOCUS:
        SetFocus(g_edit);
        return 0;
    case WM_COMMAND:
        if ((HWND)lp == g_open && HIWORD(wp) == BN_CLICKED) {
            MessageBoxW(w, L"開きました", L"開く", MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        if ((HWND)lp == g_quit && HIWORD(wp) == BN_CLICKED) {
            g_exitCode = 10 + GetWindowTextLengthW(g_edit);
            DestroyWindow(w);
            return 0;
        }
        break;
    case WM_CLOSE:
        if (MessageBoxW(w, L"終了しますか？", L"確認", MB_YESNO | MB_ICONQUESTION) == IDYES) {
            g_exitCode = 3;
            DestroyWindow(w);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(g_exitCode);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

int runWindow() {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = inst;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"VxSampleWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowW(L"VxSampleWindow", L"サンプル ウィンドウ", WS_OVERLAPPEDWINDOW, 100, 100, 400, 200,
                           nullptr, nullptr, inst, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
    return (int)m.wParam;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* mode = argc > 1 ? argv[1] : L"";
    if (!wcscmp(mode, L"box") && argc > 2) return box(argv[2]);
    if (!wcscmp(mode, L"twoboxes")) {
        int a = MessageBoxW(nullptr, L"1つ目", L"確認", MB_OKCANCEL | MB_ICONQUESTION);
        int b = MessageBoxW(nullptr, L"2つ目", L"完了", MB_OK | MB_ICONINFORMATION);
        return a * 10 + b;
    }
    if (!wcscmp(mode, L"late")) {
        Sleep(1500);
        return MessageBoxW(nullptr, L"遅れて表示", L"遅延", MB_OK);
    }
    if (!wcscmp(mode, L"where")) {
        wchar_t cwd[MAX_PATH] = {0}, exe[MAX_PATH] = {0};
        GetCurrentDirectoryW(MAX_PATH, cwd);
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring text = std::wstring(L"cwd=") + cwd + L"\nexe=" + exe;
        return MessageBoxW(nullptr, text.c_str(), L"場所", MB_OK);
    }
    if (!wcscmp(mode, L"dialog"))
        return (int)DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETTINGS), nullptr, settingsProc, 0);
    if (!wcscmp(mode, L"window")) return runWindow();
    return 99;
}
