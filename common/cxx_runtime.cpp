// The C++ run-time support of the router's static file, which links musl's C
// library and no libstdc++: allocation over malloc and free, and the hook the
// compiler calls from a pure virtual function's slot. The product is built
// without exceptions, RTTI and thread-safe statics (cmake/mips-musl.cmake), so
// it needs no more than this.
//
// A failed allocation has no exception to throw: the plain operator new ends
// the program instead of returning null to code that does not check, which is
// what an uncaught std::bad_alloc would do. The nothrow forms return null.
#include <cstddef>
#include <cstdlib>
#include <new>
#include <unistd.h>

namespace {

[[noreturn]] void die(const char* what, size_t length) {
  // write(2) only: stdio may be what ran out of memory.
  ssize_t ignored = write(STDERR_FILENO, what, length);
  (void)ignored;
  abort();
}

void* allocate(size_t size) {
  // malloc(0) may return null; new must return a distinct pointer.
  void* p = malloc(size ? size : 1);
  if (!p) {
    static const char kMessage[] = "out of memory\n";
    die(kMessage, sizeof kMessage - 1);
  }
  return p;
}

void* try_allocate(size_t size) noexcept { return malloc(size ? size : 1); }

}  // namespace

void* operator new(size_t size) { return allocate(size); }
void* operator new[](size_t size) { return allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }

void operator delete(void* p) noexcept { free(p); }
void operator delete[](void* p) noexcept { free(p); }
void operator delete(void* p, size_t) noexcept { free(p); }
void operator delete[](void* p, size_t) noexcept { free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { free(p); }

extern "C" [[noreturn]] void __cxa_pure_virtual();
extern "C" void __cxa_pure_virtual() {
  static const char kMessage[] = "pure virtual function called\n";
  die(kMessage, sizeof kMessage - 1);
}
