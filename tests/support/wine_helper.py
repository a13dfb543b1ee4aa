"""A small Windows program the Wine tests compile (with the MinGW-w64 compiler of the build Wine
runs) and run beside the programs under test: "hold FILE" holds a file open without sharing,
"list FOLDER" lists a folder the way FindFirstFileW reports it.
"""
import os
import subprocess

SOURCE = r"""
#include <windows.h>
#include <stdio.h>

static void put(const wchar_t *text) {
    char out[1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, NULL, NULL);
    if (n > 0) fwrite(out, 1, n - 1, stdout);
}

/* hold FILE: opens FILE without sharing it, says HELD, keeps it open until stdin ends.
   list FOLDER: one line per entry as FindFirstFileW reports it: attributes, reparse tag,
   the folder identity (volume serial and file index) where one can be had, and the name. */
int wmain(int argc, wchar_t **argv) {
    if (argc == 3 && lstrcmpW(argv[1], L"hold") == 0) {
        char buffer[16];
        DWORD n;
        HANDLE h = CreateFileW(argv[2], GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (h == INVALID_HANDLE_VALUE) { printf("FAILED %lu\n", GetLastError()); fflush(stdout); return 1; }
        printf("HELD\n");
        fflush(stdout);
        while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, NULL) && n > 0) {}
        CloseHandle(h);
        return 0;
    }
    if (argc == 3 && lstrcmpW(argv[1], L"list") == 0) {
        wchar_t pattern[MAX_PATH], path[MAX_PATH];
        WIN32_FIND_DATAW data;
        HANDLE find;
        wsprintfW(pattern, L"%s\\*.*", argv[2]);
        find = FindFirstFileW(pattern, &data);
        if (find == INVALID_HANDLE_VALUE) { printf("FAILED %lu\n", GetLastError()); return 1; }
        do {
            BY_HANDLE_FILE_INFORMATION info;
            HANDLE h;
            printf("%08lx %08lx ", data.dwFileAttributes,
                   (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? data.dwReserved0 : 0);
            wsprintfW(path, L"%s\\%s", argv[2], data.cFileName);
            h = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
            if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info)) {
                printf("%08lx:%08lx%08lx ", info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
            } else {
                printf("-:- ");
            }
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
            put(data.cFileName);
            printf("\n");
        } while (FindNextFileW(find, &data));
        FindClose(find);
        return 0;
    }
    return 2;
}
"""


def build_helper(cc, folder):
    """Compiles the helper with the C compiler `cc` into `folder`; returns the program's path."""
    source = os.path.join(folder, "vxhelper.c")
    with open(source, "w") as f:
        f.write(SOURCE)
    program = os.path.join(folder, "vxhelper.exe")
    subprocess.run([cc, "-municode", "-static", "-o", program, source], check=True)
    return program
