#include "corpus.h"
#include "filemove.h"
#include "keystore.h"
#include "measure.h"
#include "routes.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace {

constexpr int defaultPhotoCount = 100;
// The slow route takes some 8 s a round on the default corpus.
constexpr int maxFullDecodeRounds = 3;
constexpr int keyCount = 100000;

// The targets the refresh and the check are held to.
constexpr double eighthScaleGoal = 1.2;
constexpr double fullDecodeOneCoreGoal = 0.15;
constexpr double fullDecodeAllCoresGoal = 0.08;
constexpr double vipsGoal = 0.4;
constexpr double memoryGoalMiB = 40;
constexpr double checkGoalMs = 150;

constexpr double notMeasured = -1;

struct SetFigures
{
    int cpu = -1;
    double otherLoad = 0;
    double refreshOneCore = notMeasured;
    double refreshAllCores = notMeasured;
    double eighthScale = notMeasured;
    double fullDecodeOneCore = notMeasured;
    double fullDecodeAllCores = notMeasured;
    double vips = notMeasured;
    double memoryOneCore = notMeasured;
    double memoryAllCores = notMeasured;
    Listing listing;
};

// Scratch space for the whole run: the window's empty key store, a tiny photo, the thumbnails vipsthumbnail writes.
class Scratch
{
public:
    Scratch()
    {
        QDir(root()).mkpath(QStringLiteral("Documents"));
        QDir(root()).mkpath(QStringLiteral("vips"));
        QImage tiny(16, 16, QImage::Format_RGB32);
        tiny.fill(Qt::gray);
        tiny.save(tinyPhoto(), "jpeg");
    }
    bool isValid() const { return m_dir.isValid(); }
    QString root() const { return m_dir.path(); }
    QString documents() const { return root() + QStringLiteral("/Documents"); }
    QString vipsOutput() const { return root() + QStringLiteral("/vips"); }
    // Measures what starting a decoder costs, apart from decoding.
    QString tinyPhoto() const { return root() + QStringLiteral("/tiny.jpg"); }

private:
    QTemporaryDir m_dir;
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void progress(const QString &what)
{
    QTextStream(stderr) << what << Qt::endl;
}

enum Cores { OneCoreOnly, AllCores };

// The peak memory growth of a first refresh, in a process that has done nothing else: memory that the allocator kept
// after earlier work would hide growth, and it keeps what a refresh frees for the next one.
double firstRefreshGrowthMiB(const QString &folder, Cores cores)
{
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--memory-probe"), cores == OneCoreOnly ? QStringLiteral("one") : QStringLiteral("all"),
            folder});
    if (!probe.waitForFinished(-1) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return notMeasured;
    bool ok = false;
    const double mib = probe.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? mib : notMeasured;
}

// The other side of firstRefreshGrowthMiB.
void probeMemory(const QString &folder, Cores cores)
{
    ScannerRoute scanner;
    std::optional<OneCore> oneCore;
    if (cores == OneCoreOnly)
        oneCore.emplace();
    out() << peakGrowthMiB([&] { scanner.refresh(folder); }) << Qt::endl;
}

SetFigures measureSet(const PhotoSet &set, ScannerRoute &scanner, const Scratch &scratch, int rounds)
{
    SetFigures figures;
    const OtherLoad otherLoad;
    const double photos = set.files.size();
    const int fullDecodeRounds = std::min(rounds, maxFullDecodeRounds);
    const QStringList tinyPhotos(set.files.size(), scratch.tinyPhoto());
    const bool haveDjpeg = djpegEighthScale({scratch.tinyPhoto()});
    const bool haveVips = vipsThumbnails({scratch.tinyPhoto()}, scratch.vipsOutput());
    const auto refresh = [&] { scanner.refresh(set.folder); };
    const auto fullDecode = [&] { fullDecodeThumbnails(set.files); };

    // The first refresh reads the files into the page cache and starts the pool threads.
    refresh();
    figures.listing = scanner.listing(set.files);
    {
        const OneCore oneCore;
        figures.cpu = oneCore.cpu();
        progress(QStringLiteral("  one core"));
        QList<TimedWork> works {{refresh, rounds}, {fullDecode, fullDecodeRounds}};
        if (haveDjpeg) {
            works.append({[&] { djpegEighthScale(set.files); }, rounds});
            works.append({[&] { djpegEighthScale(tinyPhotos); }, rounds});
        }
        const QList<double> ms = medianMs(works);
        figures.refreshOneCore = ms.at(0) / photos;
        figures.fullDecodeOneCore = ms.at(1) / photos;
        if (haveDjpeg)
            figures.eighthScale = (ms.at(2) - ms.at(3)) / photos;
    }
    progress(QStringLiteral("  all cores"));
    // Qt scales and converts large images on several threads, so the old route gains from more cores too.
    QList<TimedWork> works {{refresh, rounds}, {fullDecode, fullDecodeRounds}};
    if (haveVips)
        works.append({[&] { vipsThumbnails(set.files, scratch.vipsOutput()); }, rounds});
    const QList<double> ms = medianMs(works);
    figures.refreshAllCores = ms.at(0) / photos;
    figures.fullDecodeAllCores = ms.at(1) / photos;
    if (haveVips)
        figures.vips = ms.at(2) / photos;
    figures.memoryOneCore = firstRefreshGrowthMiB(set.folder, OneCoreOnly);
    figures.memoryAllCores = firstRefreshGrowthMiB(set.folder, AllCores);
    figures.otherLoad = otherLoad.cores();
    return figures;
}

QString verdict(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

void printRow(const QString &label, const QString &value, const QString &ratio = {}, const QString &goal = {})
{
    QString row = QStringLiteral("%1 %2").arg(label, -56).arg(value, 16);
    if (!goal.isEmpty())
        row += QStringLiteral(" %1  %2").arg(ratio, 6).arg(goal);
    out() << row << Qt::endl;
}

QString msPerPhoto(double ms)
{
    return QStringLiteral("%1 ms/photo").arg(ms, 0, 'f', 2);
}

// A route the refresh is compared with: its own cost and the refresh's share of it.
void printComparison(const QString &label, double refresh, double route, double goal)
{
    if (route == notMeasured) {
        printRow(label, QStringLiteral("not installed"));
        return;
    }
    const double ratio = refresh / route;
    printRow(label, msPerPhoto(route), QString::number(ratio, 'f', 3),
        QStringLiteral("<= %1  %2").arg(goal, 0, 'f', 2).arg(verdict(ratio <= goal)));
}

void printMemory(const QString &label, double mib)
{
    if (mib == notMeasured) {
        printRow(label, QStringLiteral("unavailable"));
        return;
    }
    printRow(label, QStringLiteral("%1 MiB").arg(mib, 0, 'f', 1), {},
        QStringLiteral("<  %1  %2").arg(memoryGoalMiB).arg(verdict(mib < memoryGoalMiB)));
}

void printSet(const PhotoSet &set, const SetFigures &figures, int rounds)
{
    out() << Qt::endl << "== " << set.title << Qt::endl;
    printRow(QStringLiteral("route (ratio = refresh / route; one core = CPU %1)").arg(figures.cpu),
        QStringLiteral("cost"), QStringLiteral("ratio"), QStringLiteral("goal"));
    printRow(QStringLiteral("refresh of the Send list, one core"), msPerPhoto(figures.refreshOneCore));
    printComparison(QStringLiteral("  1/8-scale decode floor, djpeg -scale 1/8 (one core)"), figures.refreshOneCore,
        figures.eighthScale, eighthScaleGoal);
    printComparison(QStringLiteral("  full decode, QPixmap::load + smooth scale (one core)"), figures.refreshOneCore,
        figures.fullDecodeOneCore, fullDecodeOneCoreGoal);
    printRow(QStringLiteral("refresh of the Send list, all %1 cores").arg(QThread::idealThreadCount()),
        msPerPhoto(figures.refreshAllCores));
    printComparison(QStringLiteral("  full decode, QPixmap::load + smooth scale (all cores)"), figures.refreshAllCores,
        figures.fullDecodeAllCores, fullDecodeAllCoresGoal);
    printComparison(QStringLiteral("  vipsthumbnail --size 33x22! (one process, all cores)"), figures.refreshAllCores,
        figures.vips, vipsGoal);
    printMemory(QStringLiteral("peak memory growth, first refresh in a process, one core"), figures.memoryOneCore);
    printMemory(QStringLiteral("peak memory growth, first refresh in a process, all cores"), figures.memoryAllCores);
    printRow(QStringLiteral("entries: the %1 files in the scanner's order").arg(set.files.size()),
        figures.listing.sameEntries ? QStringLiteral("yes") : QStringLiteral("NO"));
    printRow(QStringLiteral("entries with a 33x22 picture"),
        QStringLiteral("%1 of %2").arg(figures.listing.pictures).arg(set.files.size()));
    if (figures.listing.pictures < set.files.size())
        out() << "NOTE: the refresh made fewer pictures than there are photos, so its ratios compare unequal work."
              << Qt::endl;
    out() << QStringLiteral("(median of %1 rounds, full decode of %2; files in the page cache; djpeg less its process "
                            "start; other processes kept %3 of %4 cores busy meanwhile)")
                 .arg(rounds)
                 .arg(std::min(rounds, maxFullDecodeRounds))
                 .arg(figures.otherLoad, 0, 'f', 2)
                 .arg(QThread::idealThreadCount())
          << Qt::endl;
}

void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

void measureCheck(const Scratch &scratch, int rounds)
{
    progress(QStringLiteral("key list check"));
    const KeyListFixture fixture = writeKeyList(scratch.root(), keyCount);
    const bool prize = checkKeyList(fixture, false).outcome == KeyListVerdict::Prize;
    // Debug lines would measure the terminal; they go nowhere instead.
    const QtMessageHandler previous = qInstallMessageHandler(discardMessage);
    const QList<double> ms =
        medianMs({{[&] { checkKeyList(fixture, false); }, rounds}, {[&] { checkKeyList(fixture, true); }, rounds}});
    qInstallMessageHandler(previous);

    out() << Qt::endl
          << QStringLiteral("== Key list check: %1 lines against %1 issued keys, every line valid (median of %2 "
                            "rounds)")
                 .arg(keyCount)
                 .arg(rounds)
          << Qt::endl;
    const QStringList labels {
        QStringLiteral("no per-line callback"), QStringLiteral("one qDebug line per line read, into a no-op handler")};
    for (qsizetype i = 0; i < labels.size(); ++i)
        printRow(labels.at(i), QStringLiteral("%1 ms").arg(ms.at(i), 0, 'f', 1), {},
            QStringLiteral("<  %1  %2").arg(checkGoalMs).arg(verdict(ms.at(i) < checkGoalMs)));
    printRow(QStringLiteral("verdict"), prize ? QStringLiteral("prize") : QStringLiteral("WRONG"));
}

dev_t deviceOf(const QString &path)
{
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_dev : 0;
}

// One photo moved there and back, the program's way and Qt's way, so that the price of never losing it shows: a
// copy to another file system is flushed to the disk, and so is the folder it lands in, before the original goes.
void measureMoves(const QString &photo, const Scratch &scratch, const QString &otherFileSystem, int rounds)
{
    progress(QStringLiteral("moves"));
    const QString here = scratch.root() + QStringLiteral("/move.jpg");
    const QString near = scratch.documents() + QStringLiteral("/move.jpg");
    QTemporaryDir elsewhere(otherFileSystem + QStringLiteral("/zrk-bench-XXXXXX"));
    const QString far = elsewhere.path() + QStringLiteral("/move.jpg");
    const bool haveOtherFileSystem = elsewhere.isValid() && deviceOf(elsewhere.path()) != deviceOf(scratch.root());
    if (!QFile::copy(photo, here))
        return;
    const auto thereAndBack = [&here](const QString &there, const std::function<bool(QString, QString)> &move) {
        if (!move(here, there) || !move(there, here))
            qFatal("zrk-bench: a move failed");
    };
    const auto program = [](const QString &from, const QString &to) { return FileMove::move(from, to).moved; };
    const auto qt = [](const QString &from, const QString &to) { return QFile::rename(from, to); };
    QList<TimedWork> works {{[&] { thereAndBack(near, program); }, rounds}};
    if (haveOtherFileSystem) {
        works.append({[&] { thereAndBack(far, program); }, rounds});
        works.append({[&] { thereAndBack(far, qt); }, rounds});
    }
    const QList<double> ms = medianMs(works);

    out() << Qt::endl
          << QStringLiteral("== Moving one %1 MB photo (per move, the mean of there and back; median of %2 rounds)")
                 .arg(QFileInfo(here).size() / 1e6, 0, 'f', 1)
                 .arg(rounds)
          << Qt::endl;
    printRow(QStringLiteral("route (ratio = the program's move / Qt's rename)"), QStringLiteral("cost"),
        QStringLiteral("ratio"), QStringLiteral("goal"));
    printRow(QStringLiteral("within one file system: a rename"), QStringLiteral("%1 ms").arg(ms.at(0) / 2, 0, 'f', 3));
    if (!haveOtherFileSystem) {
        printRow(QStringLiteral("to %1").arg(otherFileSystem), QStringLiteral("no other file system"));
        return;
    }
    printRow(QStringLiteral("to %1 and back: copy, flushes, then remove").arg(otherFileSystem),
        QStringLiteral("%1 ms").arg(ms.at(1) / 2, 0, 'f', 2), QString::number(ms.at(1) / ms.at(2), 'f', 2),
        QStringLiteral("none"));
    printRow(QStringLiteral("  QFile::rename: copy and remove, nothing flushed"),
        QStringLiteral("%1 ms").arg(ms.at(2) / 2, 0, 'f', 2));
}

} // namespace

int main(int argc, char **argv)
{
    // Figures only: no window is ever shown.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Measures the refresh of the Send list against other ways of making the thumbnails, and the key list check."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("folder"),
        QStringLiteral("Photos to measure on; without it, a generated corpus."), QStringLiteral("[folder]"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Rounds per figure (default 5)."),
        QStringLiteral("n"), QStringLiteral("5"));
    parser.addOption(roundsOption);
    const QCommandLineOption otherFileSystemOption(QStringLiteral("other-file-system"),
        QStringLiteral(
            "A folder on another file system, such as a memory card, to move a photo to (default /dev/shm)."),
        QStringLiteral("folder"), QStringLiteral("/dev/shm"));
    parser.addOption(otherFileSystemOption);
    QCommandLineOption memoryProbeOption(QStringLiteral("memory-probe"),
        QStringLiteral("Print the memory growth of one refresh of folder on one or all cores."),
        QStringLiteral("cores"));
    memoryProbeOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(memoryProbeOption);
    parser.process(app);
    const int rounds = std::max(1, parser.value(roundsOption).toInt());

    const Scratch scratch;
    if (!scratch.isValid()) {
        progress(QStringLiteral("zrk-bench: cannot make a temporary folder"));
        return 1;
    }
    // The window scans its key store when built; it gets an empty one and never the real folders.
    KeyStore::setDocumentFolderForTesting(scratch.documents());
    if (parser.isSet(memoryProbeOption)) {
        const bool one = parser.value(memoryProbeOption) == QStringLiteral("one");
        probeMemory(parser.positionalArguments().value(0), one ? OneCoreOnly : AllCores);
        return 0;
    }

    QList<PhotoSet> sets;
    if (parser.positionalArguments().isEmpty()) {
        progress(QStringLiteral("making the corpus in %1").arg(scratch.root()));
        sets = Corpus::make(scratch.root(), defaultPhotoCount);
    } else {
        sets = {Corpus::adopt(parser.positionalArguments().constFirst())};
    }

    ScannerRoute scanner;
    for (const PhotoSet &set : std::as_const(sets)) {
        if (set.files.isEmpty()) {
            progress(QStringLiteral("no photos in %1").arg(set.folder));
            continue;
        }
        progress(QStringLiteral("measuring %1").arg(set.title));
        printSet(set, measureSet(set, scanner, scratch, rounds), rounds);
    }
    if (!sets.constFirst().files.isEmpty())
        measureMoves(sets.constFirst().files.constFirst(), scratch, parser.value(otherFileSystemOption), rounds);
    measureCheck(scratch, rounds);
    return 0;
}
