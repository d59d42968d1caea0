// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "keystore.h"
#include "testsupport.h"

#include <QTest>

#include <cstdlib>

class TestKeyStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void keyName_data();
    void keyName();
    void pathsFollowTheDocumentFolder();
};

void TestKeyStore::init()
{
    failOnUnexpectedWarnings();
}

void TestKeyStore::keyName_data()
{
    QTest::addColumn<long>("number");
    QTest::addColumn<QString>("name");

    QTest::newRow("zero") << 0L << "zrk_0.key.jpg";
    QTest::newRow("plain digits") << 42L << "zrk_42.key.jpg";
    QTest::newRow("no grouping") << 1234567L << "zrk_1234567.key.jpg";
    QTest::newRow("largest") << long(RAND_MAX) << QStringLiteral("zrk_%1.key.jpg").arg(QString::number(RAND_MAX));
}

void TestKeyStore::keyName()
{
    QFETCH(long, number);
    QFETCH(QString, name);

    QCOMPARE(KeyStore::keyName(number), name);
    QCOMPARE(KeyStore::keyPath(QStringLiteral("/a/b%1/photo.jpg"), number), QStringLiteral("/a/b%1/") + name);
}

void TestKeyStore::pathsFollowTheDocumentFolder()
{
    const KeyStoreFixture store;
    QCOMPARE(KeyStore::documentFolder(), store.documents());
    QCOMPARE(KeyStore::sentKeysFolder(), store.sentKeys());
    QCOMPARE(KeyStore::sentPath(QStringLiteral("zrk_7.key.jpg")), store.sentKeys() + QStringLiteral("/zrk_7.key.jpg"));
    QCOMPARE(KeyStore::returnPath(store.sentKeys() + QStringLiteral("/zrk_7.key.jpg")),
        store.documents() + QStringLiteral("/zrk_7.key.jpg"));
}

QTEST_GUILESS_MAIN(TestKeyStore)
#include "tst_keystore.moc"
