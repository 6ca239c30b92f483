// Force-included in WebAssembly builds: Debian's Emscripten 3.1.6 ships a
// libc++ without std::bit_cast; the compiler has the builtin.
#pragma once
#include <bit>
#include <type_traits>
#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
