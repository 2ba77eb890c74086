// The run finder's engine: bytes are classified 64 at a time into a bit mask (one bit per
// printable byte), and runs long enough are found with shifts and ANDs on the masks instead
// of a branch per byte. Wide is the SSE2 path; the portable path gives the same masks.
#pragma once

#include <algorithm>
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

// Bit i set when the need bits from i on are all set in the 128-bit value (hi:lo), for the
// 64 positions of lo (1 <= need <= 64). Positions whose stretch reaches past hi come out 0.
inline uint64_t Stretches(uint64_t lo, uint64_t hi, size_t need) {
    uint64_t q = lo;
    size_t len = 1;
    while (len * 2 <= need && q) {
        const int s = static_cast<int>(len);
        q &= Shr(q, hi, s);
        hi &= hi >> s;
        len *= 2;
    }
    // Two overlapping stretches of len bits, from i and from i + need - len.
    if (len < need && q)
        q &= Shr(q, hi, static_cast<int>(need - len));
    return q;
}

// The printable bits of the 64 bytes at off of [start, start + total); bytes past the end
// count as not printable.
template <bool Wide> inline uint64_t MaskAt(const Byte* start, size_t off, size_t total) {
    return off >= total ? 0 : Mask<Wide>(start + off, total - off < 64 ? total - off : 64);
}

// The first byte at or after i that is not printable, or total.
template <bool Wide> inline size_t RunEnd(const Byte* start, size_t i, size_t total) {
    for (;;) {
        const uint64_t stop = ~MaskAt<Wide>(start, i, total); // never 0 past the end
        if (stop)
            return std::min(total, i + static_cast<size_t>(Ctz(stop)));
        i += 64;
    }
}

// The first printable byte at or after i, or total.
template <bool Wide> inline size_t NextPrintable(const Byte* start, size_t i, size_t total) {
    for (; i < total; i += 64)
        if (const uint64_t m = MaskAt<Wide>(start, i, total))
            return std::min(total, i + static_cast<size_t>(Ctz(m)));
    return total;
}

// The first run in [start, end) that begins before end - minLength and is at least
// minLength long, or null; its length (up to end) goes to *length. A minimum at or below
// zero accepts any run; one at or above end - start accepts none.
template <bool Wide>
const Byte* FindRun(const Byte* start, const Byte* end, int minLength, int* length) {
    const ptrdiff_t size = end - start;
    if (size <= 0 || minLength >= size)
        return nullptr;
    const size_t total = static_cast<size_t>(size);
    const size_t need = minLength > 1 ? static_cast<size_t>(minLength) : 1;
    const size_t limit = total - (minLength > 0 ? need : 0);

    if (need > 64) {
        // Long minimums: walk the runs by their starts and ends in the masks.
        for (size_t pos = NextPrintable<Wide>(start, 0, total); pos < limit;
             pos = NextPrintable<Wide>(start, pos, total)) {
            const size_t runEnd = RunEnd<Wide>(start, pos, total);
            if (runEnd - pos >= need) {
                *length = static_cast<int>(runEnd - pos);
                return start + pos;
            }
            pos = runEnd;
        }
        return nullptr;
    }

    auto below = [](size_t n) { return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1; };
    uint64_t cur = MaskAt<Wide>(start, 0, total);
    for (size_t off = 0; off < limit; off += 64) {
        const uint64_t allowed = below(limit - off);
        // A stretch found within this word alone is the first one: any earlier start
        // would have its whole stretch inside the word too.
        uint64_t q = Stretches(cur, 0, need) & allowed;
        uint64_t next = 0;
        bool haveNext = false;
        if (!q && cur) {
            next = MaskAt<Wide>(start, off + 64, total);
            haveNext = true;
            q = Stretches(cur, next, need) & allowed;
        }
        if (q) {
            // The run ends at the first byte that is not printable, or at the end; most
            // often within the word already classified.
            const size_t at = off + static_cast<size_t>(Ctz(q));
            const uint64_t stop = ~cur & ~below(at - off);
            const size_t runEnd = stop ? std::min(total, off + static_cast<size_t>(Ctz(stop)))
                                       : RunEnd<Wide>(start, off + 64, total);
            *length = static_cast<int>(runEnd - at);
            return start + at;
        }
        cur = haveNext ? next : MaskAt<Wide>(start, off + 64, total);
    }
    return nullptr;
}

// Where the next run that could qualify may begin, from position from of the window: the
// first byte at or after it that starts a run (a printable byte after one that is not),
// or total when there is none. A run that began before from is passed over.
template <bool Wide> size_t NextRunStart(const Byte* start, size_t from, size_t total) {
    size_t i = from;
    if (i > 0 && i < total && static_cast<Byte>(start[i - 1] - 0x20) < 0x5F)
        i = RunEnd<Wide>(start, i, total);
    return NextPrintable<Wide>(start, i, total);
}

} // namespace textrun
