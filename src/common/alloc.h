#pragma once
// Checked allocation. Every buffer and every object whose failure the program reports comes
// from here: sizes are overflow-checked, nothing throws, and a test can make one chosen
// allocation fail so that every clean-up path runs.

#include <cstddef>  // std::size_t
#include <cstdint>  // std::int64_t, SIZE_MAX
#include <memory>   // std::unique_ptr
#include <new>      // std::nothrow
#include <utility>  // std::forward

namespace vellox {

// False when the test hook says this allocation must fail; counts the allocation otherwise.
[[nodiscard]] bool allocation_allowed();

// Test hook: the n-th checked allocation from now on fails (n >= 1); 0 turns the hook off.
void fail_allocation_number(std::int64_t n);

// The number of checked allocations made since the process started (for tests).
std::int64_t allocation_count();

// count value-initialised (zero-filled) elements, or nullptr when count is negative, when
// count * sizeof(T) does not fit the address space, or when the memory cannot be had.
template <typename T>
[[nodiscard]] std::unique_ptr<T[]> allocate_array(std::int64_t count) {
    if (count < 0 || static_cast<std::uint64_t>(count) > SIZE_MAX / sizeof(T)) return nullptr;
    if (!allocation_allowed()) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<std::size_t>(count)]());
}

// One object constructed with args, or nullptr when it cannot be allocated.
template <typename T, typename... Args>
[[nodiscard]] std::unique_ptr<T> make_object(Args&&... args) {
    if (!allocation_allowed()) return nullptr;
    return std::unique_ptr<T>(new (std::nothrow) T(std::forward<Args>(args)...));
}

}  // namespace vellox
