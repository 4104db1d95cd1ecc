// Parses each input as a filter file's contents, as the program does once it has read the
// file's bytes, and builds whichever filter the file holds and the coverage it records.

#include "curvesfilter.h"
#include "filterfile.h"
#include "filtersettings.h"
#include "mixingfilter.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray contents
        = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    FilterSettings settings;
    if (!settings.parse(contents).ok())
        return 0;
    int unread = 0;
    if (const std::unique_ptr<CurvesFilter> curves = FilterFile::curves(settings, &unread))
        curves->levelTables();
    else if (const std::unique_ptr<MixingFilter> mixing = FilterFile::mixing(settings, &unread))
        mixing->map(128.0, 64.0, 255.0);
    bool damaged = false;
    const Coverage coverage = FilterFile::coverage(settings, &damaged);
    if (damaged && coverage.isKnown())
        std::abort();
    return 0;
}
