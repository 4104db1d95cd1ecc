#ifndef LOSSYPRODUCT_H
#define LOSSYPRODUCT_H

#include <QImage>

// Tells a product exported lossily (a JPEG) from one the look made pixel by pixel, from two
// traces a JPEG leaves and a look applied pixel by pixel does not.
//
// Chroma: a JPEG stores chroma (Cb, Cr) at half resolution. Chroma varies within each aligned
// 2 x 2 block of pixels and between neighbouring blocks; a look applied pixel by pixel scales
// both alike, so the product keeps the source's proportion of the two, while a subsampled
// product lost most of the variation within the blocks. A product of little colour (sepia)
// shows this poorly.
//
// Blocks: a JPEG quantises each aligned 8 x 8 block of pixels on its own, so luma steps more
// between blocks than within them; a look applied pixel by pixel keeps the source's
// proportion of the two.
namespace LossyProduct {

// The product's proportion of chroma variation within 2 x 2 blocks to that between
// horizontally neighbouring blocks, relative to the source's: about 1 for a look applied
// pixel by pixel, far less for a subsampled product. 1 when the source shows no such detail.
// The product must cover the source. Throws std::bad_alloc.
double fineChromaShare(const QImage &source, const QImage &product);
// Images of more pixels than these are measured on a share of their rows: for the chroma, and
// for the block edges, which a million pixels show plainly.
constexpr qsizetype SampledPixels = 4'000'000;
constexpr qsizetype EdgeSampledPixels = 1'000'000;

// The product's proportion of mean luma steps across the edges of aligned 8 x 8 blocks to
// those within blocks, relative to the source's: about 1 for a look applied pixel by pixel,
// more for a JPEG. 1 when either image is too flat or too small to tell. The product must
// cover the source. Throws std::bad_alloc.
double blockEdgeShare(const QImage &source, const QImage &product);

// How lossy a product looks, 0..1: the larger of what the chroma and the block edges tell.
// From the chroma, 0 from LosslessShare of the source's fine chroma detail up, 1 from
// LossyShare down, and straight between; from the block edges, 0 up to LosslessEdges, 1 from
// LossyEdges. On the photos of the looks set, looks applied pixel by pixel keep at least 0.93
// of the fine chroma and step at most 1.05 times as much across block edges; of their JPEG
// exports at quality 85, four in five keep 0.37 to 0.9 of the fine chroma, and all but the
// exports of one finely textured photo (1.04 to 1.07) step 1.1 to 1.65 times as much.
constexpr double LosslessShare = 0.92;
constexpr double LossyShare = 0.90;
constexpr double LosslessEdges = 1.06;
constexpr double LossyEdges = 1.10;
double lossiness(const QImage &source, const QImage &product);

} // namespace LossyProduct

#endif // LOSSYPRODUCT_H
