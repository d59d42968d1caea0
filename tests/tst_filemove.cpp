// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "filemove.h"
#include "keystore.h"
#include "movemarker.h"
#include "moverecovery.h"
#include "testsupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

// Moves between two folders, "from" and "to", each on the test's own file system or on a scratch one, as a photo
// moves into the sent-keys folder and back out of it.

namespace {

enum class Layout {
    SameFolder,
    SameFileSystem,
    ToOtherFileSystem,
    FromOtherFileSystem,
    RenameCannotRefuse,
    // The target folder is a second mount of a folder on the same file system, and renames cannot refuse either.
    ToSecondMountRenameCannotRefuse,
};

class MoveFixture
{
public:
    explicit MoveFixture(Layout layout)
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("from"));
        QDir(m_dir.path()).mkpath(QStringLiteral("to"));
        if (layout == Layout::ToOtherFileSystem)
            m_scratch = std::make_unique<ScratchFileSystem>(to(), 1024);
        if (layout == Layout::FromOtherFileSystem)
            m_scratch = std::make_unique<ScratchFileSystem>(from(), 1024);
        if (layout == Layout::ToSecondMountRenameCannotRefuse) {
            m_scratch = std::make_unique<ScratchFileSystem>(to(), m_elsewhere.path());
        }
        if (layout == Layout::SameFolder)
            m_toFolder = QStringLiteral("from");
        FileMove::TestHooks hooks;
        hooks.renameCannotRefuseToReplace =
            layout == Layout::RenameCannotRefuse || layout == Layout::ToSecondMountRenameCannotRefuse;
        FileMove::setTestHooks(hooks);
    }

    // Where the layout needs a scratch file system, the one it got.
    const ScratchFileSystem *scratch() const { return m_scratch.get(); }
    QString from() const { return m_dir.path() + QStringLiteral("/from"); }
    QString to() const { return m_dir.path() + QLatin1Char('/') + m_toFolder; }
    // Every file of both folders, hidden ones included, relative to the fixture.
    QStringList files() const { return filesBelow(m_dir.path()); }
    QString relative(const QString &path) const { return QDir(m_dir.path()).relativeFilePath(path); }

private:
    QTemporaryDir m_dir;
    QString m_toFolder = QStringLiteral("to");
    // Beside the fixture's folder, on the same file system, so that its files are not listed twice.
    QTemporaryDir m_elsewhere;
    std::unique_ptr<ScratchFileSystem> m_scratch;
};

void addLayoutRows(const char *suffix = "")
{
    QTest::addRow("same folder%s", suffix) << Layout::SameFolder;
    QTest::addRow("same file system%s", suffix) << Layout::SameFileSystem;
    QTest::addRow("to another file system%s", suffix) << Layout::ToOtherFileSystem;
    QTest::addRow("from another file system%s", suffix) << Layout::FromOtherFileSystem;
    QTest::addRow("rename that cannot refuse to replace%s", suffix) << Layout::RenameCannotRefuse;
    QTest::addRow("to a second mount, rename that cannot refuse to replace%s", suffix)
        << Layout::ToSecondMountRenameCannotRefuse;
}

// The three moves of a key's life: to its key name in its own folder, into the sent-keys folder, and back out.
enum class KeyMove { Naming, Issuing, Withdrawing };
enum class Copy { Absent, Whole, CutShort, Other, SymbolicLink, HardLink };
enum class Marker { Whole, WithoutContent, Garbled, OfAnotherPhoto };

// Bytes of no picture, larger than one buffer of a copy, so that a kill can cut a copy short.
QByteArray photoBytes()
{
    QByteArray bytes(600 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

} // namespace

Q_DECLARE_METATYPE(Layout)
Q_DECLARE_METATYPE(KeyMove)
Q_DECLARE_METATYPE(Copy)
Q_DECLARE_METATYPE(Marker)

class TestFileMove : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void movesWholeAndLeavesNothingBehind_data();
    void movesWholeAndLeavesNothingBehind();
    void neverReplacesATakenName_data();
    void neverReplacesATakenName();
    void movesOnlyRegularFiles_data();
    void movesOnlyRegularFiles();
    void tooLittleRoomLeavesNoPartialCopy();
    void originalThatCannotGoKeepsNoCopy();
    void nextStartSettlesAMoveKilledAtAnyStep_data();
    void nextStartSettlesAMoveKilledAtAnyStep();
    void nextStartTrustsMarkersOnlyAsFarAsTheFilesAgree_data();
    void nextStartTrustsMarkersOnlyAsFarAsTheFilesAgree();
    void nextStartUndoesAMoveWhoseSourceCannotGo();
};

void TestFileMove::init()
{
    failOnUnexpectedWarnings();
}

void TestFileMove::cleanup()
{
    FileMove::setTestHooks({});
}

void TestFileMove::movesWholeAndLeavesNothingBehind_data()
{
    QTest::addColumn<Layout>("layout");
    addLayoutRows();
}

void TestFileMove::movesWholeAndLeavesNothingBehind()
{
    QFETCH(Layout, layout);
    const MoveFixture fixture(layout);
    if (fixture.scratch())
        ZRK_REQUIRE_MOUNTED(*fixture.scratch());
    const QByteArray bytes = jpegBytes(QSize(300, 200), 1);
    const QString from = writeFileAt(fixture.from() + QStringLiteral("/photo.jpg"), bytes);
    QFile original(from);
    const QDateTime taken = QDateTime::fromSecsSinceEpoch(1'600'000'000);
    QVERIFY(original.open(QIODevice::ReadOnly) && original.setFileTime(taken, QFileDevice::FileModificationTime));
    QVERIFY(original.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    const QFileDevice::Permissions permissions = original.permissions();
    original.close();
    const QString to = fixture.to() + QStringLiteral("/zrk_7.key.jpg");

    const FileMove::Result result = FileMove::move(from, to);

    QVERIFY2(result.moved, qPrintable(result.reason));
    QCOMPARE(readAll(to), bytes);
    QCOMPARE(fixture.files(), QStringList {fixture.relative(to)});
    // Across file systems the copy keeps what a rename keeps.
    const QFileInfo moved(to);
    QCOMPARE(moved.permissions(), permissions);
    QCOMPARE(moved.lastModified(), taken);
}

void TestFileMove::neverReplacesATakenName_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<bool>("takenDuringTheMove");
    for (bool during : {false, true}) {
        const char *when = during ? ", taken during the move" : ", taken before";
        QTest::addRow("same file system%s", when) << Layout::SameFileSystem << during;
        QTest::addRow("to another file system%s", when) << Layout::ToOtherFileSystem << during;
        QTest::addRow("rename that cannot refuse to replace%s", when) << Layout::RenameCannotRefuse << during;
    }
}

void TestFileMove::neverReplacesATakenName()
{
    QFETCH(Layout, layout);
    QFETCH(bool, takenDuringTheMove);
    const MoveFixture fixture(layout);
    if (fixture.scratch())
        ZRK_REQUIRE_MOUNTED(*fixture.scratch());
    const QByteArray photo = jpegBytes(QSize(60, 40), 1);
    const QByteArray occupant = jpegBytes(QSize(60, 40), 2);
    const QString from = writeFileAt(fixture.from() + QStringLiteral("/photo.jpg"), photo);
    const QString to = fixture.to() + QStringLiteral("/zrk_7.key.jpg");
    if (takenDuringTheMove) {
        // Another program writes that name after every check the move could make, just before it takes the name.
        FileMove::TestHooks hooks;
        hooks.renameCannotRefuseToReplace = layout == Layout::RenameCannotRefuse;
        hooks.beforePlacing = [&](const QString &target) { writeFileAt(target, occupant); };
        FileMove::setTestHooks(hooks);
    } else {
        writeFileAt(to, occupant);
    }

    const FileMove::Result result = FileMove::move(from, to);

    QVERIFY(!result.moved);
    QCOMPARE(result.reason, to + QStringLiteral(": ") + qt_error_string(EEXIST));
    QCOMPARE(readAll(from), photo);
    QCOMPARE(readAll(to), occupant);
    QCOMPARE(fixture.files(), (QStringList {fixture.relative(from), fixture.relative(to)}));
}

void TestFileMove::movesOnlyRegularFiles_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QString>("kind");

    for (Layout layout : {Layout::SameFileSystem, Layout::ToOtherFileSystem}) {
        const char *where = layout == Layout::SameFileSystem ? "same file system" : "to another file system";
        QTest::addRow("link to another file, %s", where) << layout << "link";
        QTest::addRow("folder, %s", where) << layout << "folder";
        QTest::addRow("FIFO, %s", where) << layout << "fifo";
        QTest::addRow("nothing, %s", where) << layout << "nothing";
    }
}

void TestFileMove::movesOnlyRegularFiles()
{
    QFETCH(Layout, layout);
    QFETCH(QString, kind);
    const MoveFixture fixture(layout);
    if (fixture.scratch())
        ZRK_REQUIRE_MOUNTED(*fixture.scratch());
    const QString elsewhere = writeFileAt(fixture.from() + QStringLiteral("/.secret"), "not for visitors");
    const QString from = fixture.from() + QStringLiteral("/photo.jpg");
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(elsewhere, from));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(from));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(from).constData(), 0644), 0);
    const QStringList filesBefore = fixture.files();
    const QString to = fixture.to() + QStringLiteral("/zrk_7.key.jpg");

    const FileMove::Result result = FileMove::move(from, to);

    QVERIFY(!result.moved);
    QVERIFY2(result.reason.startsWith(from + QStringLiteral(": ")), qPrintable(result.reason));
    QVERIFY(!QFileInfo(to).exists() && !QFileInfo(to).isSymLink());
    QCOMPARE(fixture.files(), filesBefore);
    QCOMPARE(readAll(elsewhere), QByteArray("not for visitors"));
}

void TestFileMove::tooLittleRoomLeavesNoPartialCopy()
{
    QTemporaryDir dir;
    const ScratchFileSystem small(dir.path() + QStringLiteral("/card"), 64);
    ZRK_REQUIRE_MOUNTED(small);
    const QByteArray photo = jpegBytes(QSize(800, 600), 1);
    QVERIFY(photo.size() > 64 * 1024);
    const QString from = writeFileAt(dir.path() + QStringLiteral("/photo.jpg"), photo);
    const QString to = dir.path() + QStringLiteral("/card/zrk_7.key.jpg");

    const FileMove::Result result = FileMove::move(from, to);

    QVERIFY(!result.moved);
    QCOMPARE(result.reason, to + QStringLiteral(": ") + qt_error_string(ENOSPC));
    QCOMPARE(readAll(from), photo);
    QCOMPARE(filesBelow(dir.path()), QStringList {QStringLiteral("photo.jpg")});
}

void TestFileMove::originalThatCannotGoKeepsNoCopy()
{
    QTemporaryDir dir;
    const QString card = dir.path() + QStringLiteral("/card");
    const ScratchFileSystem readOnly(card, 1024);
    ZRK_REQUIRE_MOUNTED(readOnly);
    const QByteArray photo = jpegBytes(QSize(60, 40), 1);
    const QString from = writeFileAt(card + QStringLiteral("/photo.jpg"), photo);
    QCOMPARE(::mount(nullptr, QFile::encodeName(card).constData(), nullptr,
                 MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr),
        0);
    const QString to = dir.path() + QStringLiteral("/zrk_7.key.jpg");

    const FileMove::Result result = FileMove::move(from, to);

    // The copy was whole, but the original could not go: two of one photo would be one too many.
    QVERIFY(!result.moved);
    QCOMPARE(result.reason, from + QStringLiteral(": ") + qt_error_string(EROFS));
    QCOMPARE(readAll(from), photo);
    QCOMPARE(filesBelow(dir.path()), QStringList {QStringLiteral("card/photo.jpg")});
}

void TestFileMove::nextStartSettlesAMoveKilledAtAnyStep_data()
{
    QTest::addColumn<KeyMove>("keyMove");
    QTest::addColumn<Layout>("layout");
    for (Layout layout : {Layout::SameFileSystem, Layout::ToOtherFileSystem, Layout::RenameCannotRefuse}) {
        const char *where = layout == Layout::SameFileSystem ? "one file system"
            : layout == Layout::ToOtherFileSystem            ? "sent keys on another file system"
                                                             : "rename that cannot refuse to replace";
        QTest::addRow("issuing, %s", where) << KeyMove::Issuing << layout;
        QTest::addRow("withdrawing, %s", where) << KeyMove::Withdrawing << layout;
    }
    QTest::addRow("naming the key, rename that cannot refuse to replace")
        << KeyMove::Naming << Layout::RenameCannotRefuse;
}

void TestFileMove::nextStartSettlesAMoveKilledAtAnyStep()
{
    QFETCH(KeyMove, keyMove);
    QFETCH(Layout, layout);
    const KeyStoreFixture store;
    QVERIFY(QDir().mkpath(store.sentKeys()));
    std::unique_ptr<ScratchFileSystem> sentKeysApart;
    if (layout == Layout::ToOtherFileSystem) {
        sentKeysApart = std::make_unique<ScratchFileSystem>(store.sentKeys(), 2048);
        ZRK_REQUIRE_MOUNTED(*sentKeysApart);
    }
    FileMove::TestHooks layoutHooks;
    layoutHooks.renameCannotRefuseToReplace = layout == Layout::RenameCannotRefuse;
    const QString keyPath = store.documents() + QStringLiteral("/trip/zrk_7.key.jpg");
    const QString sentPath = KeyStore::sentPath(QStringLiteral("zrk_7.key.jpg"));
    const QString returnPath = KeyStore::returnPath(sentPath);
    const QString from = keyMove == KeyMove::Naming ? store.documents() + QStringLiteral("/trip/IMG_1.jpg")
        : keyMove == KeyMove::Issuing               ? keyPath
                                                    : sentPath;
    const QString to = keyMove == KeyMove::Naming ? keyPath : keyMove == KeyMove::Issuing ? sentPath : returnPath;
    const QByteArray photo = photoBytes();
    const auto relative = [&store](const QString &path) { return QDir(store.documents()).relativeFilePath(path); };

    int step = 1;
    int leftInTwoPlaces = 0;
    for (;; ++step) {
        for (const QString &file : filesBelow(store.documents()))
            QVERIFY(QFile::remove(store.documents() + QLatin1Char('/') + file));
        writeFileAt(from, photo);
        if (!killedAtStep(
                step, [&] { FileMove::move(from, to); }, layoutHooks))
            break;
        if (QFileInfo::exists(from) && QFileInfo::exists(to))
            ++leftInTwoPlaces;

        MoveRecovery::finishInterruptedMoves();

        const QStringList files = filesBelow(store.documents());
        const QString context = QStringLiteral("killed at step %1: %2").arg(step).arg(files.join(QStringLiteral(", ")));
        QVERIFY2(files == QStringList {relative(from)} || files == QStringList {relative(to)}, qPrintable(context));
        QVERIFY2(readAll(store.documents() + QLatin1Char('/') + files.constFirst()) == photo, qPrintable(context));
    }
    QCOMPARE(filesBelow(store.documents()), QStringList {relative(to)});
    QCOMPARE(readAll(to), photo);
    // A single rename has no step in between; every other move has some that leave the photo in two places.
    if (layout == Layout::SameFileSystem)
        QCOMPARE(step, 1);
    else
        QVERIFY2(leftInTwoPlaces > 0, qPrintable(QStringLiteral("%1 steps").arg(step - 1)));
}

void TestFileMove::nextStartTrustsMarkersOnlyAsFarAsTheFilesAgree_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("sourceThere");
    QTest::addColumn<Copy>("copy");
    QTest::addColumn<Marker>("marker");
    QTest::addColumn<QStringList>("left");

    const QString keyPath = QStringLiteral("Documents/zrk_7.key.jpg");
    const QString sentPath = QStringLiteral("Documents/.sentKeys/zrk_7.key.jpg");
    const QStringList both = {keyPath, sentPath};
    QTest::newRow("whole copy, source still there: finished")
        << keyPath << true << Copy::Whole << Marker::Whole << QStringList {sentPath};
    QTest::newRow("copy cut short: undone")
        << keyPath << true << Copy::CutShort << Marker::Whole << QStringList {keyPath};
    QTest::newRow("source already gone") << keyPath << false << Copy::Whole << Marker::Whole << QStringList {sentPath};
    QTest::newRow("copy never took its name")
        << keyPath << true << Copy::Absent << Marker::Whole << QStringList {keyPath};
    QTest::newRow("one file under both names")
        << keyPath << true << Copy::HardLink << Marker::WithoutContent << QStringList {sentPath};
    QTest::newRow("garbled marker") << keyPath << true << Copy::Whole << Marker::Garbled << both;
    QTest::newRow("marker of another photo") << keyPath << true << Copy::Whole << Marker::OfAnotherPhoto << both;
    QTest::newRow("another file has the copy's name") << keyPath << true << Copy::Other << Marker::Whole << both;
    QTest::newRow("two files under two names, marker without content")
        << keyPath << true << Copy::Whole << Marker::WithoutContent << both;
    QTest::newRow("copy is a link to the source")
        << keyPath << true << Copy::SymbolicLink << Marker::Whole << QStringList {keyPath};
    QTest::newRow("source outside the store")
        << QStringLiteral("outside/zrk_7.key.jpg") << true << Copy::Whole << Marker::Whole
        << QStringList {sentPath, QStringLiteral("outside/zrk_7.key.jpg")};
    QTest::newRow("source through a link out of the store")
        << QStringLiteral("Documents/away/zrk_7.key.jpg") << true << Copy::Whole << Marker::Whole
        << QStringList {sentPath, QStringLiteral("outside/zrk_7.key.jpg")};
    QTest::newRow("source in a hidden folder")
        << QStringLiteral("Documents/.hidden/zrk_7.key.jpg") << true << Copy::Whole << Marker::Whole
        << QStringList {QStringLiteral("Documents/.hidden/zrk_7.key.jpg"), sentPath};
    QTest::newRow("source is the copy itself")
        << sentPath << false << Copy::Whole << Marker::Whole << QStringList {sentPath};
}

void TestFileMove::nextStartTrustsMarkersOnlyAsFarAsTheFilesAgree()
{
    QFETCH(QString, source);
    QFETCH(bool, sourceThere);
    QFETCH(Copy, copy);
    QFETCH(Marker, marker);
    QFETCH(QStringList, left);
    const KeyStoreFixture store;
    const QString root = store.root() + QLatin1Char('/');
    QVERIFY(QDir().mkpath(root + QStringLiteral("outside")));
    QVERIFY(QFile::link(root + QStringLiteral("outside"), store.documents() + QStringLiteral("/away")));
    const QByteArray photo = photoBytes();
    const QString sourcePath = root + source;
    const QString copyPath = KeyStore::sentPath(QStringLiteral("zrk_7.key.jpg"));
    if (sourceThere)
        writeFileAt(sourcePath, photo);
    QVERIFY(QDir().mkpath(store.sentKeys()));
    const QByteArray copyBytes = copy == Copy::CutShort ? photo.left(photo.size() / 3)
        : copy == Copy::Other                           ? photo.left(1000) + "another photo"
                                                        : photo;
    const QByteArray sourceName = QFile::encodeName(sourcePath);
    const QByteArray copyName = QFile::encodeName(copyPath);
    if (copy == Copy::SymbolicLink)
        QCOMPARE(::symlink(sourceName.constData(), copyName.constData()), 0);
    else if (copy == Copy::HardLink)
        QCOMPARE(::link(sourceName.constData(), copyName.constData()), 0);
    else if (copy != Copy::Absent)
        writeFileAt(copyPath, copyBytes);
    MoveMarker written {
        sourceName, "zrk_7.key.jpg", photo.size(), QCryptographicHash::hash(photo, QCryptographicHash::Sha256)};
    if (marker == Marker::WithoutContent)
        written = MoveMarker {sourceName, written.targetName, 0, {}};
    if (marker == Marker::OfAnotherPhoto)
        written.sha256 = QCryptographicHash::hash("another photo", QCryptographicHash::Sha256);
    writeFileAt(store.sentKeys() + QStringLiteral("/.zrk-moving-AbC123"),
        marker == Marker::Garbled ? written.encoded().chopped(5) : written.encoded());
    // Copies that a kill left before they took their names.
    writeFileAt(store.sentKeys() + QStringLiteral("/.zrk-move-dEf456"), photo.left(4096));
    writeFileAt(store.documents() + QStringLiteral("/.zrk-move-gHi789"), photo);

    MoveRecovery::finishInterruptedMoves();

    const QString copyLeft = QDir(store.root()).relativeFilePath(copyPath);
    if (copy == Copy::SymbolicLink)
        left.append(copyLeft);
    left.sort();
    QCOMPARE(filesBelow(store.root()), left);
    for (const QString &file : std::as_const(left))
        QCOMPARE(readAll(root + file), file == copyLeft ? copyBytes : photo);
}

void TestFileMove::nextStartUndoesAMoveWhoseSourceCannotGo()
{
    // Withdrawing from a card that has since become read-only, killed once the copy had its name.
    const KeyStoreFixture store;
    const ScratchFileSystem card(store.sentKeys(), 1024);
    ZRK_REQUIRE_MOUNTED(card);
    const QByteArray photo = photoBytes();
    const QString source = writeFileAt(KeyStore::sentPath(QStringLiteral("zrk_7.key.jpg")), photo);
    const QString copy = writeFileAt(KeyStore::returnPath(source), photo);
    const MoveMarker marker {QFile::encodeName(source), "zrk_7.key.jpg", photo.size(),
        QCryptographicHash::hash(photo, QCryptographicHash::Sha256)};
    writeFileAt(store.documents() + QStringLiteral("/.zrk-moving-AbC123"), marker.encoded());
    QCOMPARE(::mount(nullptr, QFile::encodeName(store.sentKeys()).constData(), nullptr,
                 MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr),
        0);

    MoveRecovery::finishInterruptedMoves();

    QCOMPARE(filesBelow(store.documents()), QStringList {QStringLiteral(".sentKeys/zrk_7.key.jpg")});
    QCOMPARE(readAll(source), photo);
}

QTEST_MAIN(TestFileMove)
#include "tst_filemove.moc"
