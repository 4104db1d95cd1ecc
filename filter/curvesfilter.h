#ifndef CURVESFILTER_H
#define CURVESFILTER_H

#include "ycurve.h"

#include <QImage>
#include <QtGlobal>

#include <array>
#include <memory>
#include <vector>

// The "Separate curves" colour filter: one response curve per RGB channel.
//
// A filter is complete when generate() or fromTables() returns it and is never changed
// afterwards.
class CurvesFilter
{
public:
    using LevelTable = std::array<int, 256>;
    using LevelTables = std::array<LevelTable, 3>;

    CurvesFilter();
    Q_DISABLE_COPY_MOVE(CurvesFilter)

    // Learns the curves from every pixel pair of source and product (the product must be
    // at least as large as the source). Throws std::bad_alloc when memory runs out.
    static std::unique_ptr<CurvesFilter> generate(const QImage &source, const QImage &product);

    // Learns the curves from joint histograms of source and product levels (how often source
    // level s met product level p in channel c, at (c << 16) | (s << 8) | p), such as the
    // counts of several examples added up: the curves from `fitted`, exactly those generate()
    // learns from pixels with these counts; the deviations over `measured`.
    static std::unique_ptr<CurvesFilter> fromHistograms(const std::vector<quint64> &fitted,
                                                        const std::vector<quint64> &measured);

    // A filter whose curves map level i to red[i], green[i] and blue[i].
    static std::unique_ptr<CurvesFilter> fromTables(const LevelTable &red, const LevelTable &green,
                                                    const LevelTable &blue);

    // Maps every pixel through the curves into a new opaque image of the same size.
    // Throws std::bad_alloc when the result cannot be allocated.
    QImage apply(const QImage &image) const;
    // The same result written over the image's own pixels where it can be (see
    // RowStrips::mapInPlace()). Throws std::bad_alloc.
    void applyInPlace(QImage &image) const;

    // The red, green and blue curve values as integers: entry i is valueAt(i).
    LevelTables levelTables() const;

    double maxInconsistency() const { return m_maxInconsistency; }
    double coverage() const { return m_coverage; }
    double maxDeviation() const { return m_maxDeviation; }
    double midDeviation() const { return m_midDeviation; }

    const YCurve &red() const { return m_red; }
    const YCurve &green() const { return m_green; }
    const YCurve &blue() const { return m_blue; }

    // Bytes held by the three curves.
    std::size_t memoryUsage() const;

private:
    // Sets what the filter reports from its finished curves and the joint histogram of the
    // pixel pairs, [channel][source level][product level], over `pixels` pixels.
    void summarize(const std::vector<quint64> &joint, qsizetype pixels);

    double m_maxInconsistency = 0.0;
    double m_coverage = 0.0;
    double m_maxDeviation = 0.0;
    double m_midDeviation = 0.0;
    YCurve m_red { 0, 255 };
    YCurve m_green { 0, 255 };
    YCurve m_blue { 0, 255 };
};

#endif // CURVESFILTER_H
