// The run finder's engine: bytes are classified 64 at a time into a bit mask (one bit per
// printable byte), and runs long enough are found with shifts and ANDs on the masks instead
// of a branch per byte. Wide is a vector unit's path; the portable path gives the same masks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#define TARNWICK_HAVE_SSE2 1
#else
#define TARNWICK_HAVE_SSE2 0
#endif

namespace textrun {

using Byte = unsigned char;

// The vector units the classification can use, from none up.
enum class VectorUnit { kPortable, kSse2, kAvx2, kAvx512bw };
// Classifies `words` stretches of 64 bytes from p: bit i of printable[k] is set when byte
// 64k + i is printable, and of zero[k] (unless zero is null) when it is 0.
void ClassifyWords(const Byte* p, size_t words, uint64_t* printable, uint64_t* zero);
// Bit i of marks[k] is set when bits 64k + i to 64k + i + need - 1 of words are all set,
// for k < count (1 <= need <= 64); words[count] is read, and counts as the end.
void MarkStretchWords(const uint64_t* words, size_t count, size_t need, uint64_t* marks);
// Whether the processor has the unit.
bool HasVectorUnit(VectorUnit unit);
// The unit ClassifyWords uses: the widest the processor has, unless told otherwise.
VectorUnit ActiveVectorUnit();
// Makes ClassifyWords use unit; false, and nothing changed, when the processor lacks it.
bool UseVectorUnit(VectorUnit unit);

// Bit i is set when p[i] is printable (0x20..0x7E), for i < n (n <= 64); bits from n on are 0.
inline uint64_t MaskPortable(const Byte* p, size_t n) {
    uint64_t m = 0;
    for (size_t i = 0; i < n; ++i)
        m |= uint64_t(static_cast<Byte>(p[i] - 0x20) < 0x5F) << i;
    return m;
}

// Bit i is set when p[i] is 0, for i < n (n <= 64).
inline uint64_t ZeroMaskPortable(const Byte* p, size_t n) {
    uint64_t m = 0;
    for (size_t i = 0; i < n; ++i)
        m |= uint64_t(p[i] == 0) << i;
    return m;
}

#if TARNWICK_HAVE_SSE2
// The printable and the zero bytes of 16 bytes, from one load.
inline void Masks16(const Byte* p, uint64_t* printable, uint64_t* zero) {
    const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i v = _mm_add_epi8(raw, _mm_set1_epi8(0x60));
    *printable = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_set1_epi8(-33), v)));
    *zero = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(raw, _mm_setzero_si128())));
}

inline uint64_t Mask16(const Byte* p) {
    // Moved up by 0x60, the printable bytes are the signed range -128..-34: one add and one
    // compare classify 16 bytes.
    const __m128i shift = _mm_set1_epi8(0x60);
    const __m128i above = _mm_set1_epi8(-33);
    const __m128i v = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), shift);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpgt_epi8(above, v)));
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

// The printable and the zero bytes of 64 bytes.
template <bool Wide> inline void Masks(const Byte* p, uint64_t* printable, uint64_t* zero) {
#if TARNWICK_HAVE_SSE2
    if (Wide) {
        uint64_t pm[4], zm[4];
        for (int k = 0; k < 4; ++k)
            Masks16(p + 16 * k, &pm[k], &zm[k]);
        *printable = pm[0] | pm[1] << 16 | pm[2] << 32 | pm[3] << 48;
        *zero = zm[0] | zm[1] << 16 | zm[2] << 32 | zm[3] << 48;
        return;
    }
#endif
    *printable = MaskPortable(p, 64);
    *zero = ZeroMaskPortable(p, 64);
}

inline int Ctz(uint64_t x) {
    return __builtin_ctzll(x);
}

inline uint64_t Below(size_t n) {
    return n >= 64 ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
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
    // As many rounds as the need asks, whatever the bits: a branch on them would be
    // mispredicted as often as taken.
    while (len * 2 <= need) {
        const int s = static_cast<int>(len);
        q &= Shr(q, hi, s);
        hi &= hi >> s;
        len *= 2;
    }
    // Two overlapping stretches of len bits, from i and from i + need - len.
    if (len < need)
        q &= Shr(q, hi, static_cast<int>(need - len));
    return q;
}

// The printable bits of a block classified beforehand (see BlockMasks), seen from the
// block's byte from on.
struct WordBits {
    const uint64_t* words;
    size_t from;
    uint64_t At(size_t off) const {
        const size_t p = from + off;
        const uint64_t lo = words[p >> 6];
        const int s = static_cast<int>(p & 63);
        return s ? Shr(lo, words[(p >> 6) + 1], s) : lo;
    }
};

// The first byte at or after i that is not printable, or total.
template <class Bits> inline size_t RunEnd(const Bits& bits, size_t i, size_t total) {
    for (;;) {
        const uint64_t stop = ~bits.At(i); // never 0 past the end
        if (stop)
            return std::min(total, i + static_cast<size_t>(Ctz(stop)));
        i += 64;
    }
}

// The first printable byte at or after i, or total.
template <class Bits> inline size_t NextPrintable(const Bits& bits, size_t i, size_t total) {
    for (; i < total; i += 64)
        if (const uint64_t m = bits.At(i))
            return std::min(total, i + static_cast<size_t>(Ctz(m)));
    return total;
}

// The last place in [from, to) whose bit is clear, or to when every bit there is set.
template <class Bits> inline size_t LastClear(const Bits& bits, size_t from, size_t to) {
    for (size_t i = to; i > from;) {
        const size_t word = (i - 1) & ~size_t(63);
        // The clear bits of this word below i and not below from.
        uint64_t clear = ~bits.At(word) & Below(i - word);
        if (from > word)
            clear &= ~Below(from - word);
        if (clear)
            return word + 63 - static_cast<size_t>(__builtin_clzll(clear));
        i = word;
    }
    return to;
}

// The first place at or after from, and before limit, where need set bits in a row begin
// (1 <= need <= 64), or limit when there is none. Each word is read once.
template <class Bits>
inline size_t FirstStretch(const Bits& bits, size_t from, size_t limit, size_t need) {
    size_t off = from & ~size_t(63);
    uint64_t cur = bits.At(off) & ~Below(from - off);
    for (; off < limit; off += 64) {
        const uint64_t next = bits.At(off + 64);
        // A stretch of five or more needs bits i, i + 2 and i + 4: words of short runs, such
        // as lone UTF-16 units, are passed over in three steps instead of every round.
        if (cur && (need < 5 || (cur & Shr(cur, next, 2) & Shr(cur, next, 4)))) {
            const uint64_t q = Stretches(cur, next, need) & Below(limit - off);
            if (q)
                return off + static_cast<size_t>(Ctz(q));
        }
        cur = next;
    }
    return limit;
}

// The first run of the total bytes that bits describe that begins before total minus
// minLength and is at least minLength long: its first byte, or total when there is none; its
// length (up to total) goes to *length. A minimum at or below zero accepts any run; one at
// or above total accepts none.
template <class Bits> size_t FindRunIn(const Bits& bits, size_t total, int minLength, int* length) {
    if (total == 0 || (minLength >= 0 && static_cast<size_t>(minLength) >= total))
        return total;
    const size_t need = minLength > 1 ? static_cast<size_t>(minLength) : 1;
    const size_t limit = total - (minLength > 0 ? need : 0);

    if (need > 64) {
        // Long minimums: a run long enough begins with 64 printable bytes in a row, so runs
        // are measured only where such a stretch begins; shorter ones are passed over a word
        // at a time, however many there are.
        for (size_t pos = 0;;) {
            const size_t at = FirstStretch(bits, pos, limit, 64);
            if (at >= limit)
                return total;
            const size_t runEnd = RunEnd(bits, at, total);
            if (runEnd - at >= need) {
                *length = static_cast<int>(runEnd - at);
                return at;
            }
            pos = runEnd;
        }
    }

    // Each word is read once, and the stretches that begin in it are found with the next
    // word's bits at hand, whether or not they reach into it.
    uint64_t cur = bits.At(0);
    for (size_t off = 0; off < limit; off += 64) {
        const uint64_t next = bits.At(off + 64);
        if (cur) {
            const uint64_t q = Stretches(cur, next, need) & Below(limit - off);
            if (q) {
                // The run ends at the first byte that is not printable, or at the end; most
                // often within the word already classified.
                const size_t at = off + static_cast<size_t>(Ctz(q));
                const uint64_t stop = ~cur & ~Below(at - off);
                const size_t runEnd = stop ? std::min(total, off + static_cast<size_t>(Ctz(stop)))
                                           : RunEnd(bits, off + 64, total);
                *length = static_cast<int>(runEnd - at);
                return at;
            }
        }
        cur = next;
    }
    return total;
}

// A block's printable bytes as one bit each, classified once, so that finding every run of
// the block looks at each byte once however many runs it holds. Asked to, the same pass
// also finds the UTF-16LE characters: a unit is a printable byte followed by a zero byte.
// Units never touch (a unit's second byte, 0, cannot start one), so a run of units k long
// from s, as one bit for each of its 2k bytes, is a run of set bits [s, s + 2k) with clear
// bits on both sides: the run finder's own shape.
class BlockMasks {
public:
    explicit BlockMasks(size_t capacity) : m_words(capacity / 64 + kPad) {}

    // Classifies the n bytes at p (n at most the capacity); Wide on the widest vector unit
    // there is, else byte by byte.
    template <bool Wide> void Classify(const Byte* p, size_t n) {
        m_size = n;
        m_need = 0;
        const size_t whole = n / 64;
        uint64_t* w = m_words.data();
        if (Wide)
            ClassifyWords(p, whole, w, nullptr);
        else
            for (size_t k = 0; k < whole; ++k)
                w[k] = MaskPortable(p + k * 64, 64);
        // The words past the end stay 0, so that a search runs out at the end.
        for (size_t k = whole; k < whole + kPad && k < m_words.size(); ++k)
            w[k] = 0;
        if (n % 64)
            w[whole] = MaskPortable(p + whole * 64, n % 64);
    }

    // Classify, and the block's UTF-16 units besides. A unit at the block's last byte would
    // need the byte after it, so none is marked there.
    template <bool Wide> void ClassifyWithUnits(const Byte* p, size_t n) {
        m_size = n;
        m_need = 0;
        m_units.resize(m_words.size());
        m_chars.resize(m_words.size());
        uint64_t* w = m_words.data();
        uint64_t* u = m_units.data();
        uint64_t* c = m_chars.data();
        const size_t whole = n / 64;
        // Past the words a search may look at, nothing is read.
        const size_t count = std::min(m_words.size(), whole + kPad);
        // The zero bytes go where the units will: a word's units need its own zero bytes and
        // the next word's, which are still there when it is done.
        if (Wide) {
            ClassifyWords(p, whole, w, u);
        } else {
            for (size_t k = 0; k < whole; ++k) {
                w[k] = MaskPortable(p + k * 64, 64);
                u[k] = ZeroMaskPortable(p + k * 64, 64);
            }
        }
        for (size_t k = whole; k < count; ++k)
            w[k] = u[k] = 0;
        if (n % 64) {
            w[whole] = MaskPortable(p + whole * 64, n % 64);
            u[whole] = ZeroMaskPortable(p + whole * 64, n % 64);
        }
        uint64_t carry = 0;
        for (size_t k = 0; k < count; ++k) {
            const uint64_t zeroAfter = k + 1 < count ? u[k + 1] : 0;
            const uint64_t units = w[k] & ((u[k] >> 1) | (zeroAfter << 63));
            u[k] = units;
            c[k] = units | (units << 1) | carry;
            carry = units >> 63;
        }
    }
    // The block's UTF-16 units (a bit at each unit's first byte) and their bytes (a bit at
    // both bytes of each unit), from ClassifyWithUnits.
    WordBits Units() const { return WordBits{m_units.data(), 0}; }
    WordBits Printable() const { return WordBits{m_words.data(), 0}; }
    WordBits UnitBytes() const { return WordBits{m_chars.data(), 0}; }

    // Marks, for the minimum length given, every byte where that many printable bytes in a
    // row begin, so that FindRun finds its runs a word at a time however many shorter ones
    // the block holds: one pass over the words, without a branch on the bytes. For minimums
    // over 64 the marks are of 64 bytes in a row, which every run long enough begins with;
    // minimums up to 1 are left to the search itself.
    void MarkStretches(int minLength) {
        m_markedFor = minLength;
        m_need = minLength > 1 ? std::min(static_cast<size_t>(minLength), size_t(64)) : 0;
        if (!m_need)
            return;
        // Every word a stretch may begin in, and one more; the clear one after them is read.
        const size_t count = m_size / 64 + 1;
        m_stretches.resize(m_words.size());
        MarkStretchWords(m_words.data(), count, m_need, m_stretches.data());
    }

    // FindRun over the block's bytes from from on: the offset in the block of the first
    // qualifying run, or the block's size when there is none.
    size_t FindRun(size_t from, int minLength, int* length) const {
        if (from >= m_size)
            return m_size;
        const size_t total = m_size - from;
        const WordBits bits{m_words.data(), from};
        // Text most often has a long-enough run right where the search starts: measure it
        // first, and search the words only when it falls short.
        if (minLength > 0 && static_cast<size_t>(minLength) < total) {
            const uint64_t here = bits.At(0);
            if (here & 1) {
                const size_t end = ~here ? std::min(total, static_cast<size_t>(Ctz(~here)))
                                         : RunEnd(bits, 64, total);
                if (end >= static_cast<size_t>(minLength)) {
                    *length = static_cast<int>(end);
                    return from;
                }
            }
        }
        if (m_need && m_markedFor == minLength)
            return MarkedRun(from, static_cast<size_t>(minLength), length);
        return from + FindRunIn(bits, total, minLength, length);
    }

private:
    // FindRun from the marks: the first mark at or after from, leaving a byte after the
    // minimum within the block as FindRunIn asks, whose run is long enough. Past 64 a mark
    // may begin a run too short; the search goes on from its end.
    size_t MarkedRun(size_t from, size_t minLength, int* length) const {
        if (m_size <= minLength || from >= m_size - minLength)
            return m_size;
        const size_t limit = m_size - minLength;
        for (;;) {
            size_t k = from / 64;
            uint64_t m = m_stretches[k] & ~Below(from % 64);
            while (!m) {
                if (++k * 64 >= limit)
                    return m_size;
                m = m_stretches[k];
            }
            const size_t at = k * 64 + static_cast<size_t>(Ctz(m));
            if (at >= limit)
                return m_size;
            const size_t end = RunEnd(Printable(), at, m_size);
            if (end - at >= minLength) {
                *length = static_cast<int>(end - at);
                return at;
            }
            from = end;
        }
    }

    static constexpr size_t kPad = 3; // a search may look up to two words past the end
    size_t m_need = 0;                // the stretch the marks stand for; 0 when there are none
    int m_markedFor = 0;              // the minimum they were made for
    std::vector<uint64_t> m_stretches;
    std::vector<uint64_t> m_words;
    std::vector<uint64_t> m_units, m_chars;
    size_t m_size = 0;
};

} // namespace textrun
