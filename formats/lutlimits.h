#ifndef LUTLIMITS_H
#define LUTLIMITS_H

// The sizes of the lookup tables that are read and written: the readers refuse and the
// writers never produce anything outside them, so whatever is written reads back.
namespace LutLimits {

// Entries of a 1D .cube table.
constexpr int Min1DSize = 2;
constexpr int Max1DSize = 65536;
// Lattice points per channel of a 3D .cube table.
constexpr int Min3DSize = 2;
constexpr int Max3DSize = 129;
constexpr int Default3DSize = 33;
// Characters of a .cube line other than a comment.
constexpr int MaxLineLength = 4096;

// A Hald CLUT image of level L holds L² lattice points per channel in L³ × L³ pixels.
constexpr int MinHaldLevel = 2;
constexpr int MaxHaldLevel = 16;
constexpr int DefaultHaldLevel = 8;

} // namespace LutLimits

#endif // LUTLIMITS_H
