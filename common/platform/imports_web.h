// Every call the page's WebAssembly makes into its worker's script (module "vx"), declared once.
// Paths are UTF-8, "/"-separated and relative to the checker's folder.
#pragma once
#include <stdint.h>

#define VX_WEB_IMPORT(name) __attribute__((import_module("vx"), import_name(name)))

extern "C" {
// Files: `checker` set names the checker file itself. A handle is above 0; a read returns the
// bytes read, -1 on an error.
VX_WEB_IMPORT("open") int32_t VxJsOpen(const char* path, uint32_t length, int32_t checker);
VX_WEB_IMPORT("read") int32_t VxJsRead(int32_t handle, void* buffer, uint32_t size);
VX_WEB_IMPORT("seek") int32_t VxJsSeek(int32_t handle, double offset);
VX_WEB_IMPORT("close") void VxJsClose(int32_t handle);
VX_WEB_IMPORT("size") double VxJsSize(const char* path, uint32_t length, int32_t checker);
VX_WEB_IMPORT("is_folder") int32_t VxJsIsFolder(const char* path, uint32_t length);
// The names in folder `path` (empty: the checker's folder), each ended by a NUL: their byte
// count, -1 when there is no such folder. With `aliases`, also the names of folders below it
// that the browser split at a backslash, joined again (see worker.js). list_copy copies them.
VX_WEB_IMPORT("list") int32_t VxJsList(const char* path, uint32_t length, int32_t aliases);
VX_WEB_IMPORT("list_copy") void VxJsListCopy(char* out);
// The path of `path`, a name found through such an alias, as the browser gave it: its byte
// count (list_copy copies it).
VX_WEB_IMPORT("real_path") int32_t VxJsRealPath(const char* path, uint32_t length);
// Makes the .exe `name` of the chosen folder the checker file that open(..., 1) reads; 1 when
// its check data is too large for the page to hand over (it counts as carrying some).
VX_WEB_IMPORT("use_checker") int32_t VxJsUseChecker(const char* name, uint32_t length);
// Decodes `length` bytes of code page 932 into at most `capacity` UTF-8 bytes at `out`; returns
// the count, or -1 when `exact` is set and a byte sequence has no character.
VX_WEB_IMPORT("decode_cp932")
int32_t VxJsDecodeCp932(const char* in, uint32_t length, char* out, uint32_t capacity,
                        int32_t exact);
VX_WEB_IMPORT("now_ms") double VxJsNowMs();
// A downloaded zip: its size, and `size` of its bytes at `offset` (1), or 0 when the page has not
// handed those over yet (the script asks it for them).
VX_WEB_IMPORT("zip_size") double VxJsZipSize();
VX_WEB_IMPORT("zip_read") int32_t VxJsZipRead(double offset, void* buffer, uint32_t size);
}
