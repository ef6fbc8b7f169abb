// The deliverables are built without exceptions, yet the standard library's
// own helpers throw: a too-long string, a failed allocation. Linked as they
// are, those helpers bring the whole exception runtime (unwinder, type
// information, demangler) into every binary, some 300 KB. Here they end the
// process instead, which is what an exception nobody catches would do.
// Linked only into the deliverables; the tests keep the ordinary runtime.
#include <cstddef>
#include <cstdlib>
#include <new>

namespace std {
[[noreturn]] void __throw_bad_alloc() { std::abort(); }
[[noreturn]] void __throw_bad_array_new_length() { std::abort(); }
[[noreturn]] void __throw_length_error(const char*) { std::abort(); }
[[noreturn]] void __throw_logic_error(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { std::abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { std::abort(); }
// A failed container bounds check (assertions are on in the deliverables).
[[noreturn]] void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { std::abort(); }
}  // namespace std

void* operator new(std::size_t size)
{
    if (void* block = std::malloc(size ? size : 1)) return block;
    std::abort();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
