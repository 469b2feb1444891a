#pragma once
// Limb storage shared by TBigint and its kernels: 64-bit words, least
// significant first, in memory that is cleared before it is released, so that
// no key material lingers in freed blocks.

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "secure/securewipe.h"

namespace bigmath {

using TLimb = uint64_t;

template <typename T>
struct TWipingAllocator {
    using value_type = T;
    TWipingAllocator() noexcept = default;
    template <typename U>
    TWipingAllocator(const TWipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept {
        SecureWipe(p, n * sizeof(T));
        ::operator delete(p);
    }
    template <typename U>
    bool operator==(const TWipingAllocator<U>&) const noexcept {
        return true;
    }
};

using TLimbs = std::vector<TLimb, TWipingAllocator<TLimb>>;

}  // namespace bigmath
