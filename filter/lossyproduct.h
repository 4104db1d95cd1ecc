#ifndef LOSSYPRODUCT_H
#define LOSSYPRODUCT_H

#include <QImage>

// Tells a product exported lossily (a JPEG with its chroma stored at half resolution) from
// one the look made pixel by pixel, from the colour detail at the scale of single pixels.
//
// Chroma (Cb, Cr) varies within each aligned 2 x 2 block of pixels and between neighbouring
// blocks. A look applied pixel by pixel scales both alike, so the product keeps the source's
// proportion of the two; a product whose chroma was subsampled lost most of the variation
// within the blocks.
namespace LossyProduct {

// The product's proportion of chroma variation within 2 x 2 blocks to that between
// horizontally neighbouring blocks, relative to the source's: about 1 for a look applied
// pixel by pixel, far less for a subsampled product. 1 when the source shows no such detail.
// The product must cover the source. Throws std::bad_alloc.
double fineChromaShare(const QImage &source, const QImage &product);
// Images of more pixels than this are measured on a share of their rows.
constexpr qsizetype SampledPixels = 4'000'000;

// How lossy a product looks, 0..1: 0 from LosslessShare of the source's fine chroma detail
// up, 1 from LossyShare down, and straight between. On the photos of the looks set, looks
// applied pixel by pixel keep at least 0.93 of it; JPEG exports at quality 85 mostly (four
// in five) 0.37 to 0.9, and the few that keep more lost little.
constexpr double LosslessShare = 0.92;
constexpr double LossyShare = 0.90;
double lossiness(const QImage &source, const QImage &product);

} // namespace LossyProduct

#endif // LOSSYPRODUCT_H
