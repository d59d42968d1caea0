// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "filemove.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>

// Moves between two folders, "from" and "to", each on the test's own file system or on a scratch one, as a photo
// moves into the sent-keys folder and back out of it.

namespace {

enum class Layout { SameFolder, SameFileSystem, ToOtherFileSystem, FromOtherFileSystem, RenameCannotRefuse };

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
        if (layout == Layout::SameFolder)
            m_toFolder = QStringLiteral("from");
        FileMove::TestHooks hooks;
        hooks.renameCannotRefuseToReplace = layout == Layout::RenameCannotRefuse;
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
    std::unique_ptr<ScratchFileSystem> m_scratch;
};

void addLayoutRows(const char *suffix = "")
{
    QTest::addRow("same folder%s", suffix) << Layout::SameFolder;
    QTest::addRow("same file system%s", suffix) << Layout::SameFileSystem;
    QTest::addRow("to another file system%s", suffix) << Layout::ToOtherFileSystem;
    QTest::addRow("from another file system%s", suffix) << Layout::FromOtherFileSystem;
    QTest::addRow("rename that cannot refuse to replace%s", suffix) << Layout::RenameCannotRefuse;
}

} // namespace

Q_DECLARE_METATYPE(Layout)

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

QTEST_MAIN(TestFileMove)
#include "tst_filemove.moc"
