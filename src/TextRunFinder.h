// The run finder's engine: bytes are classified 64 at a time into a bit mask (one bit per
// printable byte), and runs long enough are found with shifts and ANDs on the masks instead
// of a branch per byte. Wide is the SSE2 path; the portable path gives the same masks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TARNWICK_HAVE_SSE2 1
#else
#define TARNWICK_HAVE_SSE2 0
#endif

namespace textrun {

using Byte = unsigned char;

// Bit i is set when p[i] is printable (0x20..0x7E), for i < n (n <= 64); bits from n on are 0.
inline uint64_t MaskPortable(const Byte* p, size_t n) {
    uint64_t m = 0;
    for (size_t i = 0; i < n; ++i)
        m |= uint64_t(static_cast<Byte>(p[i] - 0x20) < 0x5F) << i;
    return m;
}

#if TARNWICK_HAVE_SSE2
inline uint64_t Mask16(const Byte* p) {
    // Shifted by 0x80 the printable bytes are the signed range -96..-2.
    const __m128i bias = _mm_set1_epi8(static_cast<char>(0x80));
    const __m128i lo = _mm_set1_epi8(static_cast<char>(0x20 ^ 0x80) - 1);
    const __m128i hi = _mm_set1_epi8(static_cast<char>(0x7E ^ 0x80) + 1);
    __m128i v = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), bias);
    __m128i in = _mm_and_si128(_mm_cmpgt_epi8(v, lo), _mm_cmplt_epi8(v, hi));
    return static_cast<uint32_t>(_mm_movemask_epi8(in));
}

inline uint64_t MaskWide(const Byte* p, size_t n) {
    if (n < 64)
        return MaskPortable(p, n);
    return Mask16(p) | Mask16(p + 16) << 16 | Mask16(p + 32) << 32 | Mask16(p + 48) << 48;
}
#endif

template <bool Wide> inline uint64_t Mask(const Byte* p, size_t n) {
#if TARNWICK_HAVE_SSE2
    if (Wide)
        return MaskWide(p, n);
#endif
    return MaskPortable(p, n);
}

inline int Ctz(uint64_t x) {
    return __builtin_ctzll(x);
}

// Bits of the 128-bit value (hi:lo) shifted right by s (0 < s < 64), low word only.
inline uint64_t Shr(uint64_t lo, uint64_t hi, int s) {
    return (lo >> s) | (hi << (64 - s));
}

// The first run in [start, end) that begins before end - minLength and is at least
// minLength long, or null; its length (up to end) goes to *length. A minimum at or below
// zero accepts any run; one at or above end - start accepts none.
template <bool Wide>
const Byte* FindRun(const Byte* start, const Byte* end, int minLength, int* length) {
    const ptrdiff_t size = end - start;
    if (size <= 0 || minLength >= size)
        return nullptr;
    const size_t need = minLength > 1 ? static_cast<size_t>(minLength) : 1;
    const size_t limit = static_cast<size_t>(size) - (minLength > 0 ? need : 0);
    const size_t total = static_cast<size_t>(size);
    auto maskAt = [&](size_t off) -> uint64_t {
        return off >= total ? 0 : Mask<Wide>(start + off, total - off < 64 ? total - off : 64);
    };
    const Byte* found = nullptr;
    if (need <= 64) {
        // Bit i of q: need bytes in a row are printable from position i (within the window).
        uint64_t cur = maskAt(0);
        for (size_t off = 0; off < limit; off += 64) {
            uint64_t next = maskAt(off + 64);
            uint64_t q = cur;
            if (need > 1 && q) {
                uint64_t qh = next;
                size_t len = 1;
                while (len * 2 <= need) {
                    const int s = static_cast<int>(len);
                    q &= Shr(q, qh, s);
                    qh &= qh >> s;
                    len *= 2;
                }
                // Two overlapping stretches of len bytes, from i and from i + need - len.
                if (len < need)
                    q &= Shr(q, qh, static_cast<int>(need - len));
            }
            if (limit - off < 64)
                q &= (uint64_t(1) << (limit - off)) - 1;
            if (q) {
                found = start + off + static_cast<size_t>(Ctz(q));
                break;
            }
            cur = next;
        }
    } else {
        // Long minimums: walk the runs by their starts and ends in the masks.
        size_t pos = 0;
        while (pos < limit) {
            uint64_t m = maskAt(pos);
            if (!m) {
                pos += 64;
                continue;
            }
            pos += static_cast<size_t>(Ctz(m));
            if (pos >= limit)
                break;
            size_t runEnd = pos;
            for (;;) {
                uint64_t inv = ~maskAt(runEnd);
                if (runEnd + 64 > total)
                    inv |= total - runEnd >= 64 ? 0 : ~uint64_t(0) << (total - runEnd);
                if (inv) {
                    runEnd += static_cast<size_t>(Ctz(inv));
                    break;
                }
                runEnd += 64;
            }
            if (runEnd - pos >= need) {
                found = start + pos;
                *length = static_cast<int>(runEnd - pos);
                return found;
            }
            pos = runEnd;
        }
        return nullptr;
    }
    if (!found)
        return nullptr;
    // The run's length: up to the first byte that is not printable, or the end.
    size_t runEnd = static_cast<size_t>(found - start);
    for (;;) {
        uint64_t inv = ~maskAt(runEnd);
        if (runEnd + 64 > total && total > runEnd)
            inv |= ~uint64_t(0) << (total - runEnd);
        if (runEnd >= total)
            break;
        if (inv) {
            runEnd += static_cast<size_t>(Ctz(inv));
            break;
        }
        runEnd += 64;
    }
    if (runEnd > total)
        runEnd = total;
    *length = static_cast<int>(runEnd - static_cast<size_t>(found - start));
    return found;
}

} // namespace textrun
