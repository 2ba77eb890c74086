// The classification of bytes into masks on the widest vector unit the processor has, chosen
// when the program runs, so that one binary runs on every x86-64 processor and uses what
// each one offers.
#include <atomic>

#include "TextRunFinder.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TARNWICK_X86 1
#else
#define TARNWICK_X86 0
#endif

namespace textrun {

namespace {

using ClassifyFn = void (*)(const Byte*, size_t, uint64_t*, uint64_t*);

void ClassifyPortable(const Byte* p, size_t words, uint64_t* printable, uint64_t* zero) {
    for (size_t k = 0; k < words; ++k) {
        printable[k] = MaskPortable(p + 64 * k, 64);
        if (zero)
            zero[k] = ZeroMaskPortable(p + 64 * k, 64);
    }
}

#if TARNWICK_HAVE_SSE2
void ClassifySse2(const Byte* p, size_t words, uint64_t* printable, uint64_t* zero) {
    if (!zero) {
        for (size_t k = 0; k < words; ++k)
            printable[k] = MaskWide(p + 64 * k, 64);
        return;
    }
    for (size_t k = 0; k < words; ++k)
        Masks<true>(p + 64 * k, &printable[k], &zero[k]);
}
#endif

#if TARNWICK_X86
// Moved up by 0x60, the printable bytes are the signed range -128..-34: one add and one
// compare classify a vector.
__attribute__((target("avx2"))) inline uint64_t Printable32(__m256i v) {
    const __m256i moved = _mm256_add_epi8(v, _mm256_set1_epi8(0x60));
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(-33), moved)));
}

__attribute__((target("avx2"))) inline uint64_t Zero32(__m256i v) {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_setzero_si256())));
}

__attribute__((target("avx2"))) void ClassifyAvx2(const Byte* p, size_t words, uint64_t* printable,
                                                  uint64_t* zero) {
    for (size_t k = 0; k < words; ++k) {
        const auto* at = reinterpret_cast<const __m256i*>(p + 64 * k);
        const __m256i lo = _mm256_loadu_si256(at), hi = _mm256_loadu_si256(at + 1);
        printable[k] = Printable32(lo) | Printable32(hi) << 32;
        if (zero)
            zero[k] = Zero32(lo) | Zero32(hi) << 32;
    }
}

// One 64-byte vector, one mask each: the bytes less 0x20 that stay below 0x5F unsigned.
__attribute__((target("avx512bw"))) void ClassifyAvx512(const Byte* p, size_t words,
                                                        uint64_t* printable, uint64_t* zero) {
    const __m512i low = _mm512_set1_epi8(0x20), span = _mm512_set1_epi8(0x5F);
    for (size_t k = 0; k < words; ++k) {
        const __m512i v = _mm512_loadu_si512(p + 64 * k);
        printable[k] = _mm512_cmplt_epu8_mask(_mm512_sub_epi8(v, low), span);
        if (zero)
            zero[k] = _mm512_testn_epi8_mask(v, v);
    }
}
#endif

// Stretches for each of count words, the word after each at hand; the vector forms take
// several words at once, each round's shifts the same for all.
void MarkPortable(const uint64_t* words, size_t count, size_t need, uint64_t* marks) {
    for (size_t k = 0; k < count; ++k)
        marks[k] = Stretches(words[k], words[k + 1], need);
}

#if TARNWICK_HAVE_SSE2
void MarkSse2(const uint64_t* words, size_t count, size_t need, uint64_t* marks) {
    size_t k = 0;
    for (; k + 2 <= count; k += 2) {
        __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + k));
        __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + k + 1));
        size_t len = 1;
        for (; len * 2 <= need; len *= 2) {
            const __m128i s = _mm_cvtsi32_si128(static_cast<int>(len));
            const __m128i back = _mm_cvtsi32_si128(static_cast<int>(64 - len));
            q = _mm_and_si128(q, _mm_or_si128(_mm_srl_epi64(q, s), _mm_sll_epi64(hi, back)));
            hi = _mm_and_si128(hi, _mm_srl_epi64(hi, s));
        }
        if (len < need) {
            const __m128i s = _mm_cvtsi32_si128(static_cast<int>(need - len));
            const __m128i back = _mm_cvtsi32_si128(static_cast<int>(64 - (need - len)));
            q = _mm_and_si128(q, _mm_or_si128(_mm_srl_epi64(q, s), _mm_sll_epi64(hi, back)));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(marks + k), q);
    }
    MarkPortable(words + k, count - k, need, marks + k);
}
#endif

#if TARNWICK_X86
__attribute__((target("avx2"))) void MarkAvx2(const uint64_t* words, size_t count, size_t need,
                                              uint64_t* marks) {
    size_t k = 0;
    for (; k + 4 <= count; k += 4) {
        __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + k));
        __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + k + 1));
        size_t len = 1;
        for (; len * 2 <= need; len *= 2) {
            const __m128i s = _mm_cvtsi32_si128(static_cast<int>(len));
            const __m128i back = _mm_cvtsi32_si128(static_cast<int>(64 - len));
            q = _mm256_and_si256(
                q, _mm256_or_si256(_mm256_srl_epi64(q, s), _mm256_sll_epi64(hi, back)));
            hi = _mm256_and_si256(hi, _mm256_srl_epi64(hi, s));
        }
        if (len < need) {
            const __m128i s = _mm_cvtsi32_si128(static_cast<int>(need - len));
            const __m128i back = _mm_cvtsi32_si128(static_cast<int>(64 - (need - len)));
            q = _mm256_and_si256(
                q, _mm256_or_si256(_mm256_srl_epi64(q, s), _mm256_sll_epi64(hi, back)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(marks + k), q);
    }
    MarkPortable(words + k, count - k, need, marks + k);
}
#endif

using MarkFn = void (*)(const uint64_t*, size_t, size_t, uint64_t*);

// The widest form there is for the unit: AVX-512's own shifts would gain little over AVX2's
// on a pass this short (a machine may offer AVX-512 without AVX2, as a virtual one can).
MarkFn MarkFor(VectorUnit unit) {
    switch (unit) {
#if TARNWICK_X86
    case VectorUnit::kAvx512bw:
        return HasVectorUnit(VectorUnit::kAvx2) ? MarkAvx2 : MarkSse2;
    case VectorUnit::kAvx2:
        return MarkAvx2;
#endif
#if TARNWICK_HAVE_SSE2
    case VectorUnit::kSse2:
        return MarkSse2;
#endif
    default:
        return MarkPortable;
    }
}

ClassifyFn FunctionFor(VectorUnit unit) {
    switch (unit) {
#if TARNWICK_X86
    case VectorUnit::kAvx512bw:
        return ClassifyAvx512;
    case VectorUnit::kAvx2:
        return ClassifyAvx2;
#endif
#if TARNWICK_HAVE_SSE2
    case VectorUnit::kSse2:
        return ClassifySse2;
#endif
    default:
        return ClassifyPortable;
    }
}

VectorUnit Widest() {
    for (VectorUnit unit : {VectorUnit::kAvx512bw, VectorUnit::kAvx2, VectorUnit::kSse2})
        if (HasVectorUnit(unit))
            return unit;
    return VectorUnit::kPortable;
}

std::atomic<VectorUnit>& Active() {
    static std::atomic<VectorUnit> active{Widest()};
    return active;
}

} // namespace

bool HasVectorUnit(VectorUnit unit) {
    switch (unit) {
    case VectorUnit::kPortable:
        return true;
#if TARNWICK_HAVE_SSE2
    case VectorUnit::kSse2:
        return true;
#endif
#if TARNWICK_X86
    case VectorUnit::kAvx2:
        return __builtin_cpu_supports("avx2");
    case VectorUnit::kAvx512bw:
        return __builtin_cpu_supports("avx512bw");
#endif
    default:
        return false;
    }
}

VectorUnit ActiveVectorUnit() {
    return Active().load(std::memory_order_relaxed);
}

bool UseVectorUnit(VectorUnit unit) {
    if (!HasVectorUnit(unit))
        return false;
    Active().store(unit, std::memory_order_relaxed);
    return true;
}

void ClassifyWords(const Byte* p, size_t words, uint64_t* printable, uint64_t* zero) {
    FunctionFor(ActiveVectorUnit())(p, words, printable, zero);
}

void MarkStretchWords(const uint64_t* words, size_t count, size_t need, uint64_t* marks) {
    MarkFor(ActiveVectorUnit())(words, count, need, marks);
}

} // namespace textrun
