#include "latticeinterpolation.h"

#include <algorithm>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#define CHROMALOOM_X86 1
#include <immintrin.h>
#endif

namespace LatticeInterpolation {

namespace {

// Slots of the largest cache, 2 MB: colourful photos meet more colours than a core's own
// cache holds, and a slot read from the shared one still costs less than computing the word.
// A stretch of rows fills a cache while it is new, so it needs many more pixels than slots.
constexpr int LargestCacheBits = 18;
constexpr qsizetype PixelsPerSlot = 16;

// Where looking first stops paying: a word found costs about a quarter of one computed, one
// not found about half as much again as computing it alone (a slot fetched from afar and a
// mispredicted branch besides).
constexpr int MostMissesPercent = 60;

template<typename MapWord>
void mapCached(const QRgb *in, QRgb *out, int width, WordMapper::Cache &cache,
               const MapWord &mapWord)
{
    int misses = 0;
    for (int x = 0; x < width; ++x) {
        const QRgb word = in[x];
        quint64 &slot = cache.slot(word);
        QRgb mapped = WordMapper::Cache::mapped(slot, word);
        if (!mapped) {
            mapped = mapWord(word);
            slot = WordMapper::Cache::holding(word, mapped);
            ++misses;
        }
        out[x] = mapped;
    }
    cache.count(width, misses);
}

#ifdef CHROMALOOM_X86

// The three channels of a word side by side in four doubles, the fourth 0. Rgb::outputLevel()
// becomes max, min and truncation: NaN and whatever is not above 0 give 0, and a value of
// 255 or more gives 255, exactly as its comparisons do.
struct Avx2Word
{
    const __m256d half;
    const __m256d zero;
    const __m256d top;
    const __m256d strength;
    // Reads an entry's three floats and nothing beyond them.
    const __m128i firstThree;
    const WordMapper &mapper;
    const bool blend;

    __attribute__((target("avx2"))) explicit Avx2Word(const WordMapper &mapper)
        : half(_mm256_set1_pd(0.5))
        , zero(_mm256_setzero_pd())
        , top(_mm256_set1_pd(double(Rgb::MaxLevel)))
        , strength(_mm256_set1_pd(Strength::clamped(mapper.strength())))
        , firstThree(_mm_setr_epi32(-1, -1, -1, 0))
        , mapper(mapper)
        , blend(mapper.strength() != 1.0)
    { }

    __attribute__((target("avx2"))) QRgb operator()(QRgb word) const
    {
        const uint r = Rgb::levelOf(word, 0);
        const uint g = Rgb::levelOf(word, 1);
        const uint b = Rgb::levelOf(word, 2);
        const Lattice::Tetrahedra::Vertices v = mapper.vertices(r, g, b);
        __m256d sum = _mm256_mul_pd(_mm256_set1_pd(v.weights[0]), entry(v.corners[0]));
        for (int k = 1; k < 4; ++k)
            sum = _mm256_add_pd(sum,
                                _mm256_mul_pd(_mm256_set1_pd(v.weights[k]), entry(v.corners[k])));
        if (blend) {
            const __m256d levels = _mm256_setr_pd(double(r), double(g), double(b), 0.0);
            sum = _mm256_add_pd(levels, _mm256_mul_pd(strength, _mm256_sub_pd(sum, levels)));
        }
        const __m128i rounded = _mm256_cvttpd_epi32(
            _mm256_min_pd(_mm256_max_pd(_mm256_add_pd(sum, half), zero), top));
        // Blue, green, red as the bytes of the word from its lowest up.
        const __m128i ordered = _mm_shuffle_epi32(rounded, _MM_SHUFFLE(3, 0, 1, 2));
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(ordered, ordered), ordered);
        return 0xff000000u | QRgb(_mm_cvtsi128_si32(bytes));
    }

    __attribute__((target("avx2"))) __m256d entry(const AreaMapping::Entry *corner) const
    {
        return _mm256_cvtps_pd(_mm_maskload_ps(corner->data(), firstThree));
    }
};

__attribute__((target("avx2"))) void mapRowAvx2(const WordMapper &mapper, const QRgb *in, QRgb *out,
                                                int width, WordMapper::Cache &cache)
{
    const Avx2Word mapWord(mapper);
    if (!cache.isEmpty()) {
        mapCached(in, out, width, cache, mapWord);
        return;
    }
    for (int x = 0; x < width; ++x)
        out[x] = mapWord(in[x]);
}

#endif

} // namespace

WordMapper::Cache::Cache(qsizetype pixels)
{
    int bits = 0;
    while (bits < LargestCacheBits && (qsizetype(1) << bits) * PixelsPerSlot < pixels)
        ++bits;
    if (bits < 10)
        return;
    try {
        m_slots.assign(std::size_t(1) << bits, ~quint64(0));
        m_shift = 32 - bits;
    } catch (const std::bad_alloc &) {
        // The words are computed one by one then.
    }
}

void WordMapper::Cache::count(int words, int misses)
{
    m_words += words;
    m_misses += misses;
    // A cache that has seen a few times as many words as it has slots is full.
    if (m_words >= 4 * qint64(m_slots.size()) && m_misses * 100 > m_words * MostMissesPercent)
        m_slots = std::vector<quint64>();
}

bool WordMapper::runs(Kernel kernel)
{
    switch (kernel) {
    case Kernel::PerWord:
        return true;
    case Kernel::Avx2:
#ifdef CHROMALOOM_X86
        // Also when asked before the static constructors that would do it have run.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    }
    return false;
}

WordMapper::Kernel WordMapper::fastest()
{
    static const Kernel kernel = runs(Kernel::Avx2) ? Kernel::Avx2 : Kernel::PerWord;
    return kernel;
}

void WordMapper::mapRow(const QRgb *in, QRgb *out, int width, Cache &cache, Kernel kernel) const
{
#ifdef CHROMALOOM_X86
    if (kernel == Kernel::Avx2) {
        mapRowAvx2(*this, in, out, width, cache);
        return;
    }
#endif
    if (!cache.isEmpty()) {
        mapCached(in, out, width, cache, *this);
        return;
    }
    for (int x = 0; x < width; ++x)
        out[x] = (*this)(in[x]);
}

} // namespace LatticeInterpolation
