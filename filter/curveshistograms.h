#ifndef CURVESHISTOGRAMS_H
#define CURVESHISTOGRAMS_H

#include <QImage>
#include <QtGlobal>

#include <vector>

// The joint histograms of source and product levels that separate curves learn from (see
// CurvesFilter::fromHistograms()), counted over one or more examples at 8 bits per channel.
//
// A pair counted robustly is also counted by the means of its flat blocks (those that
// PairSamples weighs at least one half of their pixel count), each as that many pixels: a
// lossy product's colours are right there on average, though they smear from pixel to pixel
// and across edges. Other pairs count every pixel there too. The curves learn each source
// level from these, and from every pixel only where no flat block met the level; without
// robust counting that is every pixel.
class CurvesHistograms
{
public:
    CurvesHistograms();

    // Counts every pixel pair of one example; the product must cover the source. Throws
    // std::bad_alloc.
    void add(const QImage &source, const QImage &product, bool robust);

    // Every pair counted.
    const std::vector<quint64> &all() const { return m_all; }
    // What the curves learn from.
    std::vector<quint64> fitted() const;

private:
    std::vector<quint64> m_all;
    std::vector<quint64> m_flat;
};

#endif // CURVESHISTOGRAMS_H
