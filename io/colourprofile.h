#ifndef COLOURPROFILE_H
#define COLOURPROFILE_H

#include <QColorSpace>

// What a photo's ICC profile, as Qt's decoders hand it over, may be written with.
namespace ColourProfile {

// Whether the profile could not be parsed. Qt keeps the bytes of such a profile in an
// invalid colour space, and its encoders would write them into a new file.
bool isDamaged(const QColorSpace &space);

// Whether the profile is one for grey pixels, which readers refuse beside colour pixels.
bool isGrey(const QColorSpace &space);

// A profile for colour pixels that shows grey ones as the grey profile does: sRGB's
// primaries with the grey profile's white point and tone curve. Invalid when the tone curve
// is of a kind that cannot be carried over.
QColorSpace forColour(const QColorSpace &grey);

} // namespace ColourProfile

#endif // COLOURPROFILE_H
