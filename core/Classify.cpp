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

} // namespace textrun
