#ifndef PAIRSAMPLES_H
#define PAIRSAMPLES_H

#include "rgb.h"

#include <QImage>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

// One pixel pair of an example for learning: the source and product colours as real levels
// 0..255, and how much the pair counts.
struct PairSample
{
    float source[Rgb::Channels];
    float product[Rgb::Channels];
    float weight;
};

// How an example is read: plainly, robustly, or robustly as far as its product looks lossy
// (LossyProduct).
enum class Robustness { Off, Auto, On };

// An example pair (source and product) read as rows of PairSamples, over the source's area
// (the product may be larger).
//
// Levels keep the precision of the images: 8-bit images give whole levels, 16-bit and float
// ones real levels (stored values, premultiplied exactly when the format is, as the 8-bit
// words are).
//
// Plain reading gives one sample per pixel pair, of weight 1. Robust reading is for lossy
// products (JPEG exports): they store chroma at half resolution and quantise the detail of
// blocks, so a product pixel's colour leaks into its neighbours' and comes out wrong wherever
// colours vary, at edges and in texture. Averages over blocks of Block x Block pixels
// (aligned with the image, as a codec's are) keep most of what leaked within a block. Such
// an average pairs the look's mean with the mean of the source colours, which only matches
// the look where the block is flat; so a block weighs its pixel count times
// 1 / (1 + (range / ContrastScale)^2), where the range is the largest spread of one source
// channel over the block. (On the looks set of scripts/makelooks, 8 x 8 blocks, a codec's
// own, lost more of non-linear looks than they gained.) A lossy product is also clipped to
// 0..255 after decoding, so a channel near either end keeps only the noise that points inward
// and its mean drifts off; where a block's product touches an end in a channel, that channel
// takes the block's median instead, which clipping does not move while most of the block
// lies inside.
class PairSamples
{
public:
    static constexpr int Block = 4;
    static constexpr float ContrastScale = 12.0f;

    // Whether the product covers the source, so that every source pixel has its pair.
    static bool cover(const QImage &source, const QImage &product);
    // The weight of a robust block of `pixels` pixels at the given source range.
    static float weightAt(int pixels, float range)
    {
        const float r = range / ContrastScale;
        return float(pixels) / (1.0f + r * r);
    }

    // Every weight is multiplied by `scale`. The product must cover the source. Throws
    // std::bad_alloc when a conversion cannot be allocated.
    PairSamples(const QImage &source, const QImage &product, bool robust, float scale = 1.0f);

    // Hands an example to add() as it is to be read: plainly, robustly, or (Auto) both, the
    // robust reading weighing LossyProduct::lossiness() and the plain one the rest. The
    // product must cover the source. Throws std::bad_alloc.
    static void read(const QImage &source, const QImage &product, Robustness robustness,
                     const std::function<void(const PairSamples &)> &add);
    ~PairSamples();
    Q_DISABLE_COPY_MOVE(PairSamples)

    bool isRobust() const { return m_robust; }
    // Whether every sample pairs whole levels at weight 1: an 8-bit example read plainly at
    // full weight.
    bool isWhole() const { return m_whole; }
    // The rows of samples and the samples in each: the image's rows and width, or its
    // rows and columns of blocks.
    int rows() const { return m_robust ? (m_height + Block - 1) / Block : m_height; }
    int rowLength() const { return m_robust ? (m_width + Block - 1) / Block : m_width; }
    qsizetype pixels() const { return qsizetype(m_width) * m_height; }

    // Reads the sample rows [first, last) in order; body(samples) gets each row's
    // rowLength() samples. Rows may be read on several threads at once.
    template<typename Body>
    void forRows(qsizetype first, qsizetype last, const Body &body) const
    {
        Reader reader(*this);
        for (qsizetype y = first; y < last; ++y)
            body(reader.row(y));
    }

private:
    // The buffers for reading rows on one thread.
    class Reader
    {
    public:
        explicit Reader(const PairSamples &pairs);
        const PairSample *row(qsizetype y);

    private:
        const PairSamples &m_pairs;
        std::vector<PairSample> m_row;
        std::vector<float> m_source;
        std::vector<float> m_product;
        // Per block of a robust row: lowest and highest source level of each channel, and
        // the product levels of each channel with whether one of them is 0 or 255.
        std::vector<float> m_low;
        std::vector<float> m_high;
        std::vector<float> m_blockProduct;
        std::vector<char> m_clipped;
    };

    // Row y of an image (as converted) as 3 real levels per pixel.
    void levels(const QImage &image, qsizetype y, float *out) const;

    int m_width;
    int m_height;
    bool m_robust;
    bool m_whole;
    float m_scale;
    QImage m_source;
    QImage m_product;
};

#endif // PAIRSAMPLES_H
