// Feeds each input to CubeFile as a .cube file's contents. Besides the sanitizers' faults, an
// input is at fault when it reads but gives a level outside 0..255 (or NaN), or is refused
// without exactly one line saying why.

#include "cubefile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray contents
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    CubeFile file;
    if (!file.read(contents)) {
        const QString error = file.errorString();
        if (error.isEmpty() || error.contains(QLatin1Char('\n')))
            std::abort();
        return 0;
    }
    for (int c = 0; c < 3; ++c) {
        for (const int level : file.levels(c)) {
            if (level < 0 || level > 255)
                std::abort();
        }
    }
    int latticeSize = 0;
    for (const std::array<float, 3> &point : file.lattice(&latticeSize)) {
        for (const float level : point) {
            if (!(level >= 0.0f && level <= 255.0f))
                std::abort();
        }
    }
    return 0;
}
