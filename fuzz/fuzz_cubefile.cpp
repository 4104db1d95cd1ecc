// Feeds each input to CubeFile as a .cube file's contents. Besides the sanitizers' faults, an
// input is at fault when it reads but gives a level outside 0..255, a lattice entry or input
// coordinate that is not a finite number within its range, a mapped colour outside 0..255, a
// coverage record that does not write back as read, a warning of more than one line, or is
// refused without exactly one line saying why.

#include "areamapping.h"
#include "cubefile.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray contents
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    CubeFile file;
    if (const Outcome<void> read = file.read(contents); !read.ok()) {
        const QString &error = read.error();
        if (error.isEmpty() || error.contains(QLatin1Char('\n')))
            std::abort();
        return 0;
    }
    for (const QString &warning : file.warnings()) {
        if (warning.isEmpty() || warning.contains(QLatin1Char('\n')))
            std::abort();
    }
    if (file.coverage().isKnown() && Coverage::fromHex(file.coverage().toHex()) != file.coverage())
        std::abort();
    if (file.kind() == CubeFile::Kind::Table1D) {
        for (int c = 0; c < 3; ++c) {
            for (const int level : file.levels(c)) {
                if (level < 0 || level > 255)
                    std::abort();
            }
        }
        return 0;
    }
    for (const AreaMapping::Entry &entry : file.lattice()) {
        for (const float level : entry) {
            if (!std::isfinite(level))
                std::abort();
        }
    }
    const std::optional<AreaMapping::InputCoordinates> input = file.inputCoordinates();
    if (input) {
        for (const AreaMapping::Coordinates &channel : *input) {
            for (const double t : channel) {
                if (!(t >= 0.0 && t <= file.size() - 1))
                    std::abort();
            }
        }
    }
    const std::unique_ptr<AreaMapping> mapping
        = AreaMapping::fromTable(file.size(), file.takeLattice(), input ? &*input : nullptr);
    if (!mapping)
        std::abort();
    for (const double level : { 0.0, 0.5, 77.3, 128.0, 254.9, 255.0 }) {
        for (const double value : mapping->map(level, 255.0 - level, level / 2)) {
            if (!(value >= 0.0 && value <= 255.0))
                std::abort();
        }
    }
    return 0;
}
