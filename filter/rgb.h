#ifndef RGB_H
#define RGB_H

// The colour vocabulary every filter, file format and report shares: the three channels in
// their fixed order red, green, blue, their 8-bit levels, where a channel sits in a 32-bit
// word as QImage::pixel() returns it, and how a real value becomes a level.

#include <QImage>
#include <QRgb>
#include <QtGlobal>

#include <algorithm>

namespace Rgb {

constexpr int Channels = 3;
constexpr int Levels = 256;
constexpr int MaxLevel = Levels - 1;

// Bit position of each channel in a 32-bit word (0xAARRGGBB).
constexpr int ChannelShifts[Channels] = { 16, 8, 0 };
// How filter files, plots and reports name the channels.
constexpr char ChannelLetters[Channels] = { 'R', 'G', 'B' };
constexpr const char *ChannelNames[Channels] = { "red", "green", "blue" };

// The level of one channel of a 32-bit word.
constexpr uint levelOf(QRgb word, int channel) { return (word >> ChannelShifts[channel]) & 0xff; }

// A real value clamped to the level range 0..255; NaN reads as 0.
constexpr double clampedLevel(double value)
{
    return value > 0.0 ? std::min(value, double(MaxLevel)) : 0.0;
}

// The whole level a real value is written as: clamped to 0..255 (NaN reads as 0) and rounded
// half up.
constexpr int outputLevel(double value)
{
    if (!(value > 0.0))
        return 0;
    if (value >= double(MaxLevel))
        return MaxLevel;
    return int(value + 0.5);
}

// The value of a curve over the 256 levels (any indexable table of numbers) at a real level,
// its values joined by straight lines; levels outside 0..255 are clamped, NaN reads as 0.
template<typename Table>
double curveAt(const Table &curve, double level)
{
    const double x = clampedLevel(level);
    const int i = int(x);
    const double t = x - i;
    const auto below = curve[std::size_t(i)];
    return t > 0.0 ? below + (curve[std::size_t(i) + 1] - below) * t : below;
}

// The opaque word of three whole levels 0..255.
constexpr QRgb opaqueWord(int red, int green, int blue)
{
    return 0xff000000u | (quint32(red) << ChannelShifts[0]) | (quint32(green) << ChannelShifts[1])
        | (quint32(blue) << ChannelShifts[2]);
}

// Whether an image format holds more than 8 bits per channel: 10 or 16-bit integers or
// floating point. Such images are filtered and learnt from at their own precision.
constexpr bool isDeep(QImage::Format format)
{
    switch (format) {
    case QImage::Format_RGBX64:
    case QImage::Format_RGBA64:
    case QImage::Format_RGBA64_Premultiplied:
    case QImage::Format_Grayscale16:
    case QImage::Format_BGR30:
    case QImage::Format_A2BGR30_Premultiplied:
    case QImage::Format_RGB30:
    case QImage::Format_A2RGB30_Premultiplied:
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

} // namespace Rgb

#endif // RGB_H
