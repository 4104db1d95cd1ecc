#ifndef YCURVE_H
#define YCURVE_H

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

// A learnt response curve over the inclusive integer levels minLevel..maxLevel.
//
// Every trained sample is kept. finalize() turns them into one value per level: the mean
// of a level's samples, straight-line interpolation between covered levels, and identity
// anchors at uncovered ends. valueAt() truncates that value toward zero.
class YCurve
{
public:
    // Sample storage that leaves new elements uninitialised, so that bulk training can
    // size a list once and let several threads fill disjoint parts of it.
    template<typename T>
    struct UninitializedAllocator : std::allocator<T>
    {
        template<typename U>
        struct rebind
        {
            using other = UninitializedAllocator<U>;
        };
        using std::allocator<T>::allocator;
        template<typename U>
        void construct(U *p) noexcept
        {
            ::new (static_cast<void *>(p)) U;
        }
        template<typename U, typename... Args>
        void construct(U *p, Args &&...args)
        {
            ::new (static_cast<void *>(p)) U(std::forward<Args>(args)...);
        }
    };
    using SampleList = std::vector<double, UninitializedAllocator<double>>;

    YCurve(int minLevel, int maxLevel);

    void reset();
    void train(int x, double y);
    void finalize();

    // Finalizes first when samples arrived since the last finalize().
    int valueAt(int x);
    // The same without changing the curve: a curve not finalized yet is finalized in a
    // copy, so the answer is always that of the finalized curve.
    int valueAt(int x) const;

    int coveredCount() const { return m_coveredCount; }
    double maxInconsistency() const { return m_maxInconsistency; }
    int minLevel() const { return m_minLevel; }
    int maxLevel() const { return m_maxLevel; }
    bool isFinalized() const { return m_finalized; }

    // The samples stored for level x (x must be in range), in training order.
    const SampleList &samplesAt(int x) const { return m_samples[std::size_t(x - m_minLevel)]; }
    // Bytes held by the table and the sample lists.
    std::size_t memoryUsage() const;

private:
    // Bulk training for the filter's generation: appends count samples to level x,
    // uninitialised, and returns where they start; the caller writes every one of them.
    // The list grows to exactly its new size.
    double *appendSamples(int x, std::size_t count);
    friend class CurvesFilter;

    int m_coveredCount;
    double m_maxInconsistency;
    std::vector<double> m_values;
    std::vector<SampleList> m_samples;
    int m_minLevel;
    int m_maxLevel;
    bool m_finalized;
};

#endif // YCURVE_H
