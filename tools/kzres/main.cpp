// kzres: the suite's resource compiler. Builds a .kzresource file from a translator's source
// and dumps a file back into that form. Exit codes: 0 done, 1 the source or file is wrong,
// 2 the command line is wrong or a file cannot be read or written.

#include "text/languages.h"
#include "tools/kzres/resource_dump.h"
#include "tools/kzres/resource_writer.h"
#include "tools/kzres/source_text.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>
#include <QStringList>
#include <cstdio>

namespace {

constexpr int kDone = 0;
constexpr int kWrongInput = 1;
constexpr int kUsage = 2;
constexpr int kBadCommandLine = -1; // answered with the help text and kUsage

const char kHelp[] =
    "Usage:\n"
    "  kzres build [--plain] [-o OUTPUT] SOURCE\n"
    "      Compiles a UTF-8 text source into a .kzresource file. The file is coded with a\n"
    "      prefix code unless --plain is given. OUTPUT defaults to Help<Code>.kzresource\n"
    "      for the source's language, in the current folder.\n"
    "  kzres dump FILE\n"
    "      Prints every id and text of FILE in source form, and on the error output what\n"
    "      is damaged in it.\n"
    "  kzres --help\n"
    "\n"
    "Exit codes: 0 done; 1 the source has an error or the file is damaged; 2 wrong usage\n"
    "or a file that cannot be read or written. The source format is described in\n"
    "kzres(1).\n";

void printError(const QString& where, const QString& message)
{
    std::fprintf(stderr, "kzres: %s: %s\n", qUtf8Printable(where), qUtf8Printable(message));
}

bool readWhole(const QString& path, QByteArray* bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(path, file.errorString());
        return false;
    }
    *bytes = file.readAll();
    return true;
}

int build(const QString& sourcePath, QString outputPath, bool coded)
{
    QByteArray source;
    if (!readWhole(sourcePath, &source))
        return kUsage;
    ResourceTexts texts;
    QString error;
    std::vector<uint8_t> bytes;
    if (!parseSourceText(source, &texts, &error) || !writeResource(texts, coded, &bytes, &error)) {
        printError(sourcePath, error);
        return kWrongInput;
    }
    if (outputPath.isEmpty())
        outputPath = QStringLiteral("Help%1.kzresource").arg(languageCode(texts.language));
    // Written whole or not at all: a build that fails leaves no half file behind.
    QSaveFile out(outputPath);
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) !=
            qint64(bytes.size()) ||
        !out.commit()) {
        printError(outputPath, out.errorString());
        return kUsage;
    }
    return kDone;
}

int dump(const QString& path)
{
    QByteArray bytes;
    if (!readWhole(path, &bytes))
        return kUsage;
    const ResourceDump found = dumpResource(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    const QByteArray text = found.text.toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    for (const QString& problem : found.problems)
        printError(path, problem);
    return found.problems.isEmpty() ? kDone : kWrongInput;
}

int runBuild(const QStringList& args)
{
    bool coded = true;
    QString output;
    QString source;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--plain"))
            coded = false;
        else if ((args[i] == QLatin1String("-o") || args[i] == QLatin1String("--output")) &&
                 i + 1 < args.size())
            output = args[++i];
        else if (source.isEmpty() && !args[i].startsWith(QLatin1Char('-')))
            source = args[i];
        else
            return kBadCommandLine;
    }
    return source.isEmpty() ? kBadCommandLine : build(source, output, coded);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    int result = kBadCommandLine;
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(kHelp, stdout);
        return kDone;
    }
    if (command == QLatin1String("build"))
        result = runBuild(args);
    else if (command == QLatin1String("dump") && args.size() == 1)
        result = dump(args[0]);
    if (result != kBadCommandLine)
        return result;
    std::fputs(kHelp, stderr);
    return kUsage;
}
