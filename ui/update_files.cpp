#include "ui/update_files.h"

namespace {

constexpr std::int64_t kApplicationsOffset = 0x500000;
constexpr std::int64_t kKestolOffset = 0x100000;
constexpr std::int64_t kSystemOffset = 0;

bool isOneOf(const QString& name, const char* const (&names)[3])
{
    const QString upper = name.toUpper();
    for (const char* candidate : names) {
        if (upper == QLatin1String(candidate))
            return true;
    }
    return false;
}

} // namespace

bool isNewGenerationFile(const QString& name)
{
    static const char* const kNames[3] = {"ZENTA_APP.DAT", "ZENTA_OS.ROM", "ZENTA_KESTOL.DAT"};
    return isOneOf(name, kNames);
}

bool isLegacyGenerationFile(const QString& name)
{
    static const char* const kNames[3] = {"LUNAPACK.DAT", "QORVAARM.ROM", "KESTOL.DAT"};
    return isOneOf(name, kNames);
}

std::int64_t diskOffsetFor(const QString& name)
{
    const QString upper = name.toUpper();
    if (upper == QLatin1String("LUNAPACK.DAT") || upper == QLatin1String("ZENTA_APP.DAT"))
        return kApplicationsOffset;
    if (upper == QLatin1String("KESTOL.DAT") || upper == QLatin1String("ZENTA_KESTOL.DAT"))
        return kKestolOffset;
    return kSystemOffset;
}
