// The few C++ runtime pieces the checker's code needs, on top of the process heap, since
// the checker links neither the C nor the C++ runtime library.
#include <windows.h>

#include <new>

namespace std {
// Normally defined by the C++ runtime library; `new (std::nothrow)` takes its address.
const nothrow_t nothrow{};
}  // namespace std

namespace {
void* Allocate(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size != 0 ? size : 1); }
void Release(void* p) {
  if (p != nullptr) HeapFree(GetProcessHeap(), 0, p);
}
}  // namespace

// Built without exceptions, so even the throwing forms report failure with null.
void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

// Reached only through a broken object; end the process quietly rather than run on.
extern "C" void __cxa_pure_virtual() { ExitProcess(0); }
