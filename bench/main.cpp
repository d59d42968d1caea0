// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "corpus.h"
#include "filemove.h"
#include "folderscan.h"
#include "keystore.h"
#include "measure.h"
#include "moverecovery.h"
#include "routes.h"
#include "thumbnailcache.h"

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
#include <QtConcurrent/QtConcurrentMap>

#include <algorithm>
#include <functional>
#include <optional>
#include <sys/stat.h>

namespace {

constexpr int defaultPhotoCount = 100;
// The slow route takes some 8 s a round on the default corpus.
constexpr int maxFullDecodeRounds = 3;
// As many keys as a list within the size bound holds: some 22 bytes a line.
constexpr int checkKeyCount = 45000;
// A visitor's list of blank lines that once froze the window for minutes.
constexpr qint64 overlongListBytes = 99000000;
// The key store the start-up is measured on.
constexpr int defaultStartUpKeys = 5000;
constexpr int defaultStartUpPhotos = 2000;

// The targets the refresh and the check are held to.
constexpr double eighthScaleGoal = 1.0;
constexpr double previewRefreshGoal = 0.01;
constexpr double nothingNewGoal = 0.002;
constexpr double startUpGoalSeconds = 5;
constexpr double thumbnailMemoryGoalMiB = 32;
constexpr double largeRefreshMemoryGoalMiB = 80;
constexpr double fullDecodeOneCoreGoal = 0.15;
constexpr double fullDecodeAllCoresGoal = 0.08;
constexpr double vipsGoal = 0.4;
constexpr double memoryGoalMiB = 40;
constexpr double checkGoalMs = 150;
constexpr double refusalGoalMs = 1;

constexpr double notMeasured = -1;

struct SetFigures
{
    int cpu = -1;
    double otherLoad = 0;
    double refreshOneCore = notMeasured;
    double refreshAllCores = notMeasured;
    double eighthScale = notMeasured;
    double refreshFaults = notMeasured;
    double eighthScaleFaults = notMeasured;
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
    // A first refresh decodes: it finds no thumbnail the desktop kept.
    forgetDesktopThumbnails();
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
    const auto forget = [&] { scanner.forgetThumbnails(); };
    const auto fullDecode = [&] { fullDecodeThumbnails(set.files); };

    // The first refresh reads the files into the page cache and starts the pool threads.
    refresh();
    figures.listing = scanner.listing(set.files);
    {
        const OneCore oneCore;
        figures.cpu = oneCore.cpu();
        progress(QStringLiteral("  one core"));
        // Every refresh timed here is a cold one: the window remembers no thumbnail yet.
        QList<TimedWork> works {{refresh, rounds, forget}, {fullDecode, fullDecodeRounds}};
        if (haveDjpeg) {
            works.append({[&] { djpegEighthScale(set.files); }, rounds});
            works.append({[&] { djpegEighthScale(tinyPhotos); }, rounds});
        }
        const QList<double> ms = medianMs(works);
        figures.refreshOneCore = ms.at(0) / photos;
        figures.fullDecodeOneCore = ms.at(1) / photos;
        if (haveDjpeg)
            figures.eighthScale = (ms.at(2) - ms.at(3)) / photos;
        // Faults are counted on one more round of each, the refresh a cold one again.
        forget();
        figures.refreshFaults = pageFaultsDuring(refresh).own / photos;
        if (haveDjpeg) {
            const qint64 tinyFaults = pageFaultsDuring([&] { djpegEighthScale(tinyPhotos); }).children;
            const qint64 allFaults = pageFaultsDuring([&] { djpegEighthScale(set.files); }).children;
            figures.eighthScaleFaults = (allFaults - tinyFaults) / photos;
        }
    }
    progress(QStringLiteral("  all cores"));
    // Qt scales and converts large images on several threads, so the old route gains from more cores too.
    QList<TimedWork> works {{refresh, rounds, forget}, {fullDecode, fullDecodeRounds}};
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

void printMemory(const QString &label, double mib, double goalMiB = memoryGoalMiB)
{
    if (mib == notMeasured) {
        printRow(label, QStringLiteral("unavailable"));
        return;
    }
    printRow(label, QStringLiteral("%1 MiB").arg(mib, 0, 'f', 1), {},
        QStringLiteral("<  %1  %2").arg(goalMiB).arg(verdict(mib < goalMiB)));
}

void printListing(const PhotoSet &set, const Listing &listing)
{
    printRow(QStringLiteral("entries: the %1 files in the scanner's order").arg(set.files.size()),
        listing.sameEntries ? QStringLiteral("yes") : QStringLiteral("NO"));
    printRow(QStringLiteral("entries with a 33x22 picture"),
        QStringLiteral("%1 of %2").arg(listing.pictures).arg(set.files.size()));
}

void printSet(const PhotoSet &set, const SetFigures &figures, int rounds)
{
    out() << Qt::endl << "== " << set.title << Qt::endl;
    printRow(QStringLiteral("route (ratio = refresh / route; one core = CPU %1)").arg(figures.cpu),
        QStringLiteral("cost"), QStringLiteral("ratio"), QStringLiteral("goal"));
    printRow(QStringLiteral("refresh of the Send list, one core"), msPerPhoto(figures.refreshOneCore));
    printComparison(QStringLiteral("  1/8-scale decode floor, djpeg -scale 1/8 (one core)"), figures.refreshOneCore,
        figures.eighthScale, eighthScaleGoal);
    printRow(QStringLiteral("page faults per photo: the refresh / djpeg (less its start)"),
        QStringLiteral("%1 / %2").arg(figures.refreshFaults, 0, 'f', 0).arg(figures.eighthScaleFaults, 0, 'f', 0));
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
    printListing(set, figures.listing);
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

// Camera photos with previews: a cold refresh, which reads the previews, and one with nothing new, which reads
// nothing, against the full decode of the same files.
void measurePreviewSet(const PhotoSet &set, ScannerRoute &scanner, int rounds)
{
    progress(QStringLiteral("  cold and with nothing new, all cores"));
    const OtherLoad otherLoad;
    const double photos = set.files.size();
    scanner.forgetThumbnails();
    scanner.refresh(set.folder);
    const Listing listing = scanner.listing(set.files);
    const auto refresh = [&] { scanner.refresh(set.folder); };
    const QList<double> ms = medianMs({{refresh, rounds, [&] { scanner.forgetThumbnails(); }}, {refresh, rounds},
        {[&] { fullDecodeThumbnails(set.files); }, std::min(rounds, maxFullDecodeRounds)}});
    const double cold = ms.at(0) / photos;
    const double nothingNew = ms.at(1) / photos;
    const double fullDecode = ms.at(2) / photos;

    out() << Qt::endl << "== " << set.title << Qt::endl;
    printRow(QStringLiteral("route (ratio = refresh / route)"), QStringLiteral("cost"), QStringLiteral("ratio"),
        QStringLiteral("goal"));
    printRow(QStringLiteral("full decode, QPixmap::load + smooth scale (all cores)"), msPerPhoto(fullDecode));
    const auto ratioRow = [&](const QString &label, double refresh, double goal) {
        const double ratio = refresh / fullDecode;
        printRow(label, QStringLiteral("%1 ms/photo").arg(refresh, 0, 'f', 3), QString::number(ratio, 'f', 4),
            QStringLiteral("<= %1  %2").arg(goal).arg(verdict(ratio <= goal)));
    };
    ratioRow(QStringLiteral("  cold refresh, from the previews (all %1 cores)").arg(QThread::idealThreadCount()), cold,
        previewRefreshGoal);
    ratioRow(QStringLiteral("  refresh with nothing new (all cores)"), nothingNew, nothingNewGoal);
    printListing(set, listing);
    out() << QStringLiteral("(median of %1 rounds, full decode of %2; files in the page cache; other processes kept %3 "
                            "of %4 cores busy meanwhile)")
                 .arg(rounds)
                 .arg(std::min(rounds, maxFullDecodeRounds))
                 .arg(otherLoad.cores(), 0, 'f', 2)
                 .arg(QThread::idealThreadCount())
          << Qt::endl;
}

// The window built over a key store of keyCount issued keys and photoCount new photos, with previews and without;
// the memory the thumbnails take, and what a refresh of the photos grows the process by.
void measureStartUp(const Scratch &scratch, int photoCount, int keyCount, int rounds)
{
    out() << Qt::endl
          << QStringLiteral("== Start-up over %1 issued key photos and %2 new photos, 4000x3000 baseline")
                 .arg(keyCount)
                 .arg(photoCount)
          << Qt::endl;
    const OtherLoad otherLoad;
    double thumbnailMiB = notMeasured;
    double refreshGrowthMiB = notMeasured;
    for (const bool previews : {true, false}) {
        progress(QStringLiteral("start-up %1 previews: writing the key store")
                     .arg(previews ? QStringLiteral("with") : QStringLiteral("without")));
        const QString name = previews ? QStringLiteral("store-previews") : QStringLiteral("store-plain");
        const QString documents = Corpus::makeKeyStore(scratch.root(), name, photoCount, keyCount, previews);
        KeyStore::setDocumentFolderForTesting(documents);
        progress(QStringLiteral("  measuring"));
        bool listed = true;
        // The slow start-up without previews is timed once.
        const QList<double> ms = medianMs({{[&] {
                                                bool roundListed = false;
                                                startUpSeconds(photoCount, keyCount, roundListed);
                                                listed = listed && roundListed;
                                            },
            previews ? std::min(rounds, 3) : 1}});
        const double seconds = ms.at(0) / 1000;
        const QString label = previews ? QStringLiteral("window built, three lists filled, all with previews")
                                       : QStringLiteral("the same without previews");
        const QString value = QStringLiteral("%1 s").arg(seconds, 0, 'f', 2);
        if (previews) {
            printRow(label, value, {},
                QStringLiteral("<= %1 s  %2").arg(startUpGoalSeconds).arg(verdict(seconds <= startUpGoalSeconds)));
            // Every start first looks for moves that a power cut interrupted; with none there, this is its price.
            const double recoveryMs = medianMs({{[] { MoveRecovery::finishInterruptedMoves(); }, rounds}}).at(0);
            printRow(QStringLiteral("  finding no interrupted move: start-up / without it"),
                QStringLiteral("%1 ms").arg(recoveryMs, 0, 'f', 2),
                QString::number(ms.at(0) / (ms.at(0) - recoveryMs), 'f', 4), QStringLiteral("none"));
            ThumbnailCache thumbnails;
            QtConcurrent::blockingMap(FolderScan::matchingFiles(documents, KeyStore::photoPattern())
                    + FolderScan::matchingFiles(KeyStore::sentKeysFolder(), KeyStore::photoPattern()),
                [&thumbnails](const QString &path) { thumbnails.thumbnailOf(path); });
            thumbnailMiB = thumbnails.bytes() / 1048576.0;
            refreshGrowthMiB = firstRefreshGrowthMiB(documents, AllCores);
        } else {
            printRow(label + QStringLiteral(", first start"), value);
            // The first start wrote the desktop's thumbnails of every photo; the second reads them.
            bool secondListed = false;
            const double second = startUpSeconds(photoCount, keyCount, secondListed);
            listed = listed && secondListed;
            printRow(QStringLiteral("  second start, thumbnails from the desktop's cache"),
                QStringLiteral("%1 s").arg(second, 0, 'f', 2), {},
                QStringLiteral("<= %1 s  %2").arg(startUpGoalSeconds).arg(verdict(second <= startUpGoalSeconds)));
            forgetDesktopThumbnails();
        }
        if (!listed)
            out() << "NOTE: the window did not list every photo and key." << Qt::endl;
        KeyStore::setDocumentFolderForTesting(scratch.documents());
        QDir(scratch.root() + QLatin1Char('/') + name).removeRecursively();
    }
    printRow(QStringLiteral("thumbnails remembered for all %1 files").arg(photoCount + keyCount),
        QStringLiteral("%1 MiB").arg(thumbnailMiB, 0, 'f', 1), {},
        QStringLiteral("<= %1  %2").arg(thumbnailMemoryGoalMiB).arg(verdict(thumbnailMiB <= thumbnailMemoryGoalMiB)));
    printMemory(QStringLiteral("peak memory growth, first refresh of the %1 new photos").arg(photoCount),
        refreshGrowthMiB, largeRefreshMemoryGoalMiB);
    out() << QStringLiteral("(start-up with previews: median of %1 rounds; files in the page cache; other processes "
                            "kept %2 of %3 cores busy meanwhile)")
                 .arg(std::min(rounds, 3))
                 .arg(otherLoad.cores(), 0, 'f', 2)
                 .arg(QThread::idealThreadCount())
          << Qt::endl;
}

// Refused from its size alone, however many keys were issued.
void measureOverlongList(const Scratch &scratch, const KeyListFixture &fixture, double checkMs, int rounds)
{
    progress(QStringLiteral("key list over the size bound"));
    const QString path = scratch.root() + QStringLiteral("/blank-lines.list");
    QFile list(path);
    if (!list.open(QIODevice::WriteOnly))
        return;
    const QByteArray blankLines(1024 * 1024, '\n');
    for (qint64 left = overlongListBytes; left > 0; left -= blankLines.size())
        list.write(blankLines.constData(), std::min(left, qint64(blankLines.size())));
    list.close();
    const KeyListFixture alone {{}, path};
    const KeyListFixture withKeys {fixture.issuedKeyPaths, path};
    const bool refused = checkKeyList(alone, true).outcome == KeyListVerdict::TooLong
        && checkKeyList(withKeys, true).outcome == KeyListVerdict::TooLong;
    const QList<double> ms =
        medianMs({{[&] { checkKeyList(alone, true); }, rounds}, {[&] { checkKeyList(withKeys, true); }, rounds}});
    QFile::remove(path);

    out() << Qt::endl
          << QStringLiteral("== Key list of %1 MB of blank lines, over the %2 MiB bound (median of %3 rounds)")
                 .arg(overlongListBytes / 1e6, 0, 'f', 1)
                 .arg(KeyListCheck::maxListBytes / 1048576)
                 .arg(rounds)
          << Qt::endl;
    printRow(QStringLiteral("route (ratio = refusal / check of the list above)"), QStringLiteral("cost"),
        QStringLiteral("ratio"), QStringLiteral("goal"));
    const QStringList labels {QStringLiteral("refused: open, size, verdict"),
        QStringLiteral("the same against %1 issued keys").arg(fixture.issuedKeyPaths.size())};
    for (qsizetype i = 0; i < labels.size(); ++i)
        printRow(labels.at(i), QStringLiteral("%1 ms").arg(ms.at(i), 0, 'f', 3),
            QString::number(ms.at(i) / checkMs, 'f', 4),
            QStringLiteral("<  %1 ms  %2").arg(refusalGoalMs).arg(verdict(ms.at(i) < refusalGoalMs)));
    printRow(QStringLiteral("verdict"), refused ? QStringLiteral("Key list too long.") : QStringLiteral("WRONG"));
}

void measureCheck(const Scratch &scratch, int rounds)
{
    progress(QStringLiteral("key list check"));
    const KeyListFixture fixture = writeKeyList(scratch.root(), checkKeyCount);
    const bool prize = checkKeyList(fixture, false).outcome == KeyListVerdict::Prize;
    // Debug lines would measure the terminal; they go nowhere instead.
    const QtMessageHandler previous = qInstallMessageHandler(discardMessage);
    const QList<double> ms =
        medianMs({{[&] { checkKeyList(fixture, false); }, rounds}, {[&] { checkKeyList(fixture, true); }, rounds}});

    out() << Qt::endl
          << QStringLiteral("== Key list check: %1 lines (%2 KiB) against %1 issued keys, every line valid, every "
                            "photo looked at (median of %3 rounds)")
                 .arg(checkKeyCount)
                 .arg(QFileInfo(fixture.listPath).size() / 1024)
                 .arg(rounds)
          << Qt::endl;
    const QStringList labels {
        QStringLiteral("no per-line callback"), QStringLiteral("one qDebug line per line read, into a no-op handler")};
    for (qsizetype i = 0; i < labels.size(); ++i)
        printRow(labels.at(i), QStringLiteral("%1 ms").arg(ms.at(i), 0, 'f', 1), {},
            QStringLiteral("<  %1  %2").arg(checkGoalMs).arg(verdict(ms.at(i) < checkGoalMs)));
    printRow(QStringLiteral("verdict"), prize ? QStringLiteral("prize") : QStringLiteral("WRONG"));
    measureOverlongList(scratch, fixture, ms.at(1), rounds);
    qInstallMessageHandler(previous);
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
    const QCommandLineOption startUpKeysOption(QStringLiteral("startup-keys"),
        QStringLiteral("Issued key photos in the start-up's key store (default %1).").arg(defaultStartUpKeys),
        QStringLiteral("n"), QString::number(defaultStartUpKeys));
    parser.addOption(startUpKeysOption);
    const QCommandLineOption startUpPhotosOption(QStringLiteral("startup-photos"),
        QStringLiteral("New photos in the start-up's key store (default %1; 0 skips the start-up).")
            .arg(defaultStartUpPhotos),
        QStringLiteral("n"), QString::number(defaultStartUpPhotos));
    parser.addOption(startUpPhotosOption);
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
    // The window scans its key store when built; it gets an empty one and never the real folders, nor the desktop's
    // real thumbnails.
    KeyStore::setDocumentFolderForTesting(scratch.documents());
    if (!parser.isSet(memoryProbeOption))
        qputenv("XDG_CACHE_HOME", QFile::encodeName(scratch.root() + QStringLiteral("/cache")));
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
        if (set.previews)
            measurePreviewSet(set, scanner, rounds);
        else
            printSet(set, measureSet(set, scanner, scratch, rounds), rounds);
    }
    if (const int startUpPhotos = parser.value(startUpPhotosOption).toInt(); startUpPhotos > 0)
        measureStartUp(scratch, startUpPhotos, std::max(0, parser.value(startUpKeysOption).toInt()), rounds);
    if (!sets.constFirst().files.isEmpty())
        measureMoves(sets.constFirst().files.constFirst(), scratch, parser.value(otherFileSystemOption), rounds);
    measureCheck(scratch, rounds);
    return 0;
}
