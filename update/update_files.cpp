// The update files' names: which generation a name belongs to and what role it has.
#include "update/update_files.h"

#include <algorithm>

namespace {

constexpr std::int64_t kApplicationsOffset = 0x500000;
constexpr std::int64_t kKestolOffset = 0x100000;
constexpr std::int64_t kSystemOffset = 0;

struct RoleNames {
    UpdateRole role;
    const char* newName;
    const char* legacyName;
    ProblemText missing; // "no <what> (<expected name>)"
    ProblemText doubled; // "<count> <what>s (<names>)"
};

// In the order a message names them.
constexpr RoleNames kRoles[] = {
    {UpdateRole::Applications, "ZENTA_APP.DAT", "LUNAPACK.DAT", ProblemText::NoApplications,
     ProblemText::ManyApplications},
    {UpdateRole::System, "ZENTA_OS.ROM", "QORVAARM.ROM", ProblemText::NoSystem,
     ProblemText::ManySystem},
    {UpdateRole::Kestol, "ZENTA_KESTOL.DAT", "KESTOL.DAT", ProblemText::NoKestol,
     ProblemText::ManyKestol},
};

const RoleNames* namesOf(const QString& name, bool* isNew)
{
    const QString upper = name.toUpper();
    for (const RoleNames& names : kRoles) {
        if (upper == QLatin1String(names.newName) || upper == QLatin1String(names.legacyName)) {
            *isNew = upper == QLatin1String(names.newName);
            return &names;
        }
    }
    return nullptr;
}

} // namespace

bool isNewGenerationFile(const QString& name)
{
    bool isNew = false;
    return namesOf(name, &isNew) != nullptr && isNew;
}

bool isLegacyGenerationFile(const QString& name)
{
    bool isNew = true;
    return namesOf(name, &isNew) != nullptr && !isNew;
}

UpdateRole roleOf(const QString& name)
{
    bool isNew = false;
    const RoleNames* names = namesOf(name, &isNew);
    return names != nullptr ? names->role : UpdateRole::None;
}

std::int64_t diskOffsetFor(const QString& name)
{
    switch (roleOf(name)) {
    case UpdateRole::Applications:
        return kApplicationsOffset;
    case UpdateRole::Kestol:
        return kKestolOffset;
    default:
        return kSystemOffset;
    }
}

std::int64_t placeEndFor(const QString& name)
{
    switch (roleOf(name)) {
    case UpdateRole::System:
        return kKestolOffset;
    case UpdateRole::Kestol:
        return kApplicationsOffset;
    default:
        return -1;
    }
}

UpdateProblem updateSetProblemOf(const QStringList& fileNames, bool newGeneration)
{
    if (fileNames.isEmpty()) {
        return {ProblemText::NoUpdateFiles,
                {kRoles[0].newName, kRoles[1].newName, kRoles[2].newName},
                {}};
    }
    QVector<UpdateProblem> problems;
    for (const RoleNames& names : kRoles) {
        QStringList ofRole;
        for (const QString& name : fileNames) {
            if (roleOf(name) == names.role)
                ofRole << name;
        }
        const char* expected = newGeneration ? names.newName : names.legacyName;
        if (ofRole.isEmpty()) {
            problems.append({names.missing, {expected}, {}});
        } else if (ofRole.size() > 1) {
            std::sort(ofRole.begin(), ofRole.end()); // the listing's order is the platform's
            problems.append(
                {names.doubled, {QString::number(ofRole.size()), ofRole.join(", ")}, {}});
        }
    }
    if (problems.isEmpty())
        return {};
    return {ProblemText::NotOneUpdate, {}, problems};
}

QVector<UpdateSetEntry> updateSetOf(const QList<CUpdateFile*>& files)
{
    QVector<UpdateSetEntry> set;
    for (const CUpdateFile* file : files)
        set.append({file->path, file->fileName, file->diskOffset, placeEndFor(file->fileName)});
    return set;
}
