// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "listplaceholder.h"
#include "testsupport.h"
#include "zrkserver.h"

#include <QFileInfo>
#include <QListWidget>
#include <QTest>

namespace {

// Whether anything but the background is drawn in the middle third of the list, where its placeholder stands and
// its one entry, at the top, does not reach.
bool drawnInTheMiddle(QListWidget *list)
{
    const QImage image = list->viewport()->grab().toImage();
    const QRgb background = image.pixel(0, 0);
    for (int y = image.height() / 3; y < image.height() * 2 / 3; ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) != background)
                return true;
        }
    }
    return false;
}

} // namespace

class TestEmptyLists : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void saySoInTheirPlace_data();
    void saySoInTheirPlace();
};

void TestEmptyLists::init()
{
    failOnUnexpectedWarnings();
}

void TestEmptyLists::saySoInTheirPlace_data()
{
    QTest::addColumn<bool>("documentFolder");
    QTest::addColumn<QStringList>("files");
    // %1 stands for the document folder; an empty text means the list has an entry instead.
    QTest::addColumn<QString>("sendText");
    QTest::addColumn<QString>("checkText");
    QTest::addColumn<QString>("givenText");

    const QString missing =
        QStringLiteral("No folder %1. Photos (names containing .jpg, in lower case) and key lists (.list) go there.");
    const QString noPhotos =
        QStringLiteral("No photos in %1. Files whose names contain .jpg, in lower case, show here.");
    const QString noKeyLists = QStringLiteral("No key lists in %1. Files whose names contain .list show here.");
    const QString noKeys = QStringLiteral("No keys given. A photo sent with Send New Key shows here.");
    QTest::newRow("first start: no document folder") << false << QStringList() << missing << missing << noKeys;
    QTest::newRow("an empty document folder") << true << QStringList() << noPhotos << noKeyLists << noKeys;
    QTest::newRow("a camera's upper-case photo only")
        << true << QStringList {QStringLiteral("IMG_0001.JPG")} << noPhotos << noKeyLists << noKeys;
    QTest::newRow("a photo and no key list")
        << true << QStringList {QStringLiteral("IMG_0001.jpg")} << QString() << noKeyLists << noKeys;
    QTest::newRow("a key list and an issued key")
        << true << QStringList {QStringLiteral("anna.list"), QStringLiteral(".sentKeys/zrk_1.key.jpg")} << noPhotos
        << QString() << QString();
}

void TestEmptyLists::saySoInTheirPlace()
{
    QFETCH(bool, documentFolder);
    QFETCH(QStringList, files);
    QFETCH(QString, sendText);
    QFETCH(QString, checkText);
    QFETCH(QString, givenText);

    KeyStoreFixture store(
        documentFolder ? KeyStoreFixture::WithDocumentFolder : KeyStoreFixture::WithoutDocumentFolder);
    for (const QString &file : std::as_const(files))
        store.writePhoto(file);
    ZRKServer window;
    window.resize(400, 500);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QList<std::pair<QListWidget *, QString>> lists {
        {window.sendList, sendText}, {window.checkList, checkText}, {window.givenList, givenText}};
    for (int tab = 0; tab < 3; ++tab) {
        window.tabWidget->setCurrentIndex(tab);
        const auto [list, text] = lists.at(tab);
        QCOMPARE(list->count() == 0, !text.isEmpty());
        if (!text.isEmpty())
            QCOMPARE(ListPlaceholder::of(list)->text(), QString(text).replace(QStringLiteral("%1"), store.documents()));
        QCOMPARE(drawnInTheMiddle(list), !text.isEmpty());
    }
    // Nothing is made for the text's sake.
    QCOMPARE(QFileInfo::exists(store.documents()), documentFolder);
}

QTEST_MAIN(TestEmptyLists)
#include "tst_emptylists.moc"
