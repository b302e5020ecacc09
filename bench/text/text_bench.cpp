// Prints what a text lookup costs: from the table cache, with the decoding of a 512-string
// coded table, and, as the reference users know, QTranslator::translate over the same texts
// loaded from a .qm file that Qt's lrelease made.

#include "text/text_lookup.h"
#include "text/text_store.h"
#include "tools/kzres/resource_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTranslator>
#include <cstdio>
#include <functional>

namespace {

constexpr int kStrings = 512;
constexpr int kFirstId = 512; // table 1
constexpr int kFrench = 3;
const char kContext[] = "CCalcFWUpdateMSDialog";

QString englishText(int k)
{
    return QStringLiteral("Message %1: the firmware of the calculator is being written").arg(k);
}

QString frenchText(int k)
{
    return QStringLiteral("Message %1 : le micrologiciel de la calculatrice est en cours "
                          "d'écriture")
        .arg(k);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

bool makeResource(const QTemporaryDir& dir)
{
    ResourceTexts texts;
    texts.language = kFrench;
    for (int k = 0; k < kStrings; ++k)
        texts.texts[kFirstId + k] = frenchText(k).toStdU16String();
    std::vector<uint8_t> bytes;
    QString error;
    if (!writeResource(texts, true, &bytes, &error))
        return false;
    QDir::setSearchPaths(QStringLiteral("resource"), {dir.path()});
    return writeFile(dir.filePath("HelpFr.kzresource"),
                     QByteArray(reinterpret_cast<const char*>(bytes.data()), int(bytes.size())));
}

bool makeQm(const QTemporaryDir& dir, QTranslator* translator)
{
    QByteArray ts = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n"
                    "<TS version=\"2.1\" language=\"fr\"><context><name>";
    ts += QByteArray(kContext) + "</name>\n";
    for (int k = 0; k < kStrings; ++k)
        ts += "<message><source>" + englishText(k).toHtmlEscaped().toUtf8() +
              "</source><translation>" + frenchText(k).toHtmlEscaped().toUtf8() +
              "</translation></message>\n";
    ts += "</context></TS>\n";
    const QString tsPath = dir.filePath("bench.ts");
    const QString qmPath = dir.filePath("bench.qm");
    if (QStringLiteral(QUILLON_LRELEASE).isEmpty() || !writeFile(tsPath, ts))
        return false;
    if (QProcess::execute(QStringLiteral(QUILLON_LRELEASE), {"-silent", tsPath, "-qm", qmPath}) !=
        0)
        return false;
    return translator->load(qmPath);
}

// Runs `lookup` over the 512 strings until `rounds` lookups are done; gives ns per lookup.
double nsPerLookup(int rounds, const std::function<int(int)>& lookup)
{
    long long sink = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        sink += lookup(i % kStrings);
    const double ns = double(timer.nsecsElapsed()) / rounds;
    if (sink == 0)
        std::puts("(no text found)");
    return ns;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!makeResource(dir)) {
        std::puts("could not write the resource file");
        return 1;
    }
    CTextStore store;
    store.setLanguage(kFrench);
    setCurrentTextStore(&store);
    const int rounds = 2000000;

    TextCatalog catalog;
    lookupText(&catalog, kFirstId, kFrench); // decode once: the rest come from the cache
    store.text(kFirstId, 0);
    const double cached = nsPerLookup(
        rounds, [&](int k) { return int(lookupText(&catalog, kFirstId + k, kFrench)[0]); });
    const double cachedQString =
        nsPerLookup(rounds, [&](int k) { return store.text(kFirstId + k, 0).size(); });
    const double decoding = nsPerLookup(2000, [&](int k) {
        catalog.tableCache.clear();
        return int(lookupText(&catalog, kFirstId + k, kFrench)[0]);
    });

    std::printf("lookupText, cached table:             %9.1f ns\n", cached);
    std::printf("CTextStore::text, cached (QString):   %9.1f ns\n", cachedQString);
    std::printf("lookupText, reading and decoding the\n"
                "  512-string coded table each time:   %9.1f ns\n",
                decoding);

    QTranslator translator;
    if (!makeQm(dir, &translator)) {
        std::puts("QTranslator reference skipped: lrelease (qttools5-dev-tools) is missing");
        return 0;
    }
    std::vector<QByteArray> sources;
    for (int k = 0; k < kStrings; ++k)
        sources.push_back(englishText(k).toUtf8());
    const double qt = nsPerLookup(rounds, [&](int k) {
        return translator.translate(kContext, sources[size_t(k)].constData()).size();
    });
    std::printf("QTranslator::translate (.qm):         %9.1f ns\n", qt);
    std::printf("ratios to QTranslator: cached lookupText %.2f, cached text() %.2f, "
                "decoding lookup %.1f\n",
                cached / qt, cachedQString / qt, decoding / qt);
    return 0;
}
