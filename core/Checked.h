#pragma once

// The one place for arithmetic on sizes and offsets read from a disk: every
// value there may be hostile, so nothing here wraps silently.

#include "core/Types.h"

// off + size <= length, computed without wrap-around.
constexpr bool fits(u64 off, u64 size, u64 length) {
    return off <= length && size <= length - off;
}

// a / b rounded up; 0 when b is 0, so a damaged divisor never traps.
constexpr u64 ceilDiv(u64 a, u64 b) {
    return b == 0 ? 0 : a / b + (a % b != 0);
}

// a * b and a + b into `out`; false (and `out` unchanged) when they wrap.
inline bool checkedMul(u64 a, u64 b, u64& out) {
    u64 r;
    if (__builtin_mul_overflow(a, b, &r))
        return false;
    out = r;
    return true;
}
inline bool checkedAdd(u64 a, u64 b, u64& out) {
    u64 r;
    if (__builtin_add_overflow(a, b, &r))
        return false;
    out = r;
    return true;
}

// a * b and a + b, stopping at the largest u64 instead of wrapping.
constexpr u64 saturatingMul(u64 a, u64 b) {
    u64 r = 0;
    return __builtin_mul_overflow(a, b, &r) ? ~u64{0} : r;
}
constexpr u64 saturatingAdd(u64 a, u64 b) {
    u64 r = 0;
    return __builtin_add_overflow(a, b, &r) ? ~u64{0} : r;
}
