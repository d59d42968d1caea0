// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "testsupport.h"
#include "zrkserverbase.h"

#include <QLayout>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTranslator>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// The widgets of a layout and of the layouts in it, in order.
QList<QWidget *> widgetsIn(const QLayout *layout)
{
    QList<QWidget *> widgets;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->layout())
            widgets += widgetsIn(item->layout());
        else
            widgets.append(item->widget());
    }
    return widgets;
}

} // namespace

class TestForm : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void objectName_data();
    void objectName();
    void windowFrame();
    void pages_data();
    void pages();
    void textsTranslatedUnderTheFormsContext();
};

void TestForm::init()
{
    failOnUnexpectedWarnings();
}

void TestForm::objectName_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("isNull");
    QTest::addColumn<QString>("expected");

    QTest::newRow("null name") << QByteArray() << true << "ZRKServerBase";
    QTest::newRow("given name") << QByteArray("mainForm") << false << "mainForm";
    QTest::newRow("empty name kept") << QByteArray("") << false << "";
}

void TestForm::objectName()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, isNull);
    QFETCH(QString, expected);

    const ZRKServerBase form(nullptr, isNull ? nullptr : name.constData());
    QCOMPARE(form.objectName(), expected);
}

void TestForm::windowFrame()
{
    const ZRKServerBase form(nullptr, nullptr, Qt::Window);
    QCOMPARE(form.windowTitle(), QStringLiteral("ZRK Server"));
    QCOMPARE(form.size(), QSize(248, 319));
    QVERIFY(form.isWindow());

    auto *formLayout = qobject_cast<QVBoxLayout *>(form.layout());
    QVERIFY(formLayout);
    QCOMPARE(formLayout->spacing(), 6);
    QCOMPARE(formLayout->contentsMargins(), QMargins(0, 0, 0, 0));
    QCOMPARE(formLayout->count(), 1);
    QCOMPARE(formLayout->itemAt(0)->widget(), form.tabWidget);
    QCOMPARE(form.tabWidget->count(), 3);
    QCOMPARE(form.tabWidget->currentIndex(), 0);
    // Every list is empty until the window fills it.
    for (const QListWidget *list : {form.sendList, form.checkList, form.givenList})
        QCOMPARE(list->count(), 0);
}

void TestForm::pages_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("pageName");
    QTest::addColumn<QString>("label");
    // Each page's widgets from top to bottom: object name and, for buttons, text.
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("texts");

    QTest::newRow("Send") << 0 << "Widget2" << u"Send"_s
                          << QStringList {u"refreshNewPhotosButton"_s, u"sendList"_s, u"sendNewKeyButton"_s}
                          << QStringList {u"Refresh New Photo list"_s, QString(), u"Send New Key"_s};
    QTest::newRow("Check") << 1 << "Widget3" << u"Check"_s
                           << QStringList {u"refreshCheckButton"_s, u"checkList"_s, u"checkButton"_s}
                           << QStringList {u"&Refresh Check Lists"_s, QString(), u"&Check"_s};
    QTest::newRow("Given Keys") << 2 << "tab" << u"Given Keys"_s
                                << QStringList {u"givenList"_s, u"removeGivenKeyButton"_s, u"beamAgainButton"_s}
                                << QStringList {QString(), u"&Remove"_s, u"Beam &Again"_s};
}

void TestForm::pages()
{
    QFETCH(int, index);
    QFETCH(QString, pageName);
    QFETCH(QString, label);
    QFETCH(QStringList, names);
    QFETCH(QStringList, texts);

    const ZRKServerBase form;
    QWidget *page = form.tabWidget->widget(index);
    QCOMPARE(page->objectName(), pageName);
    QCOMPARE(form.tabWidget->tabText(index), label);

    auto *layout = qobject_cast<QVBoxLayout *>(page->layout());
    QVERIFY(layout);
    QCOMPARE(layout->spacing(), 6);
    QCOMPARE(layout->contentsMargins(), QMargins(11, 11, 11, 11));
    const QList<QWidget *> widgets = widgetsIn(layout);
    QCOMPARE(widgets.size(), names.size());
    for (int i = 0; i < names.size(); ++i) {
        QWidget *widget = widgets.at(i);
        QCOMPARE(widget->objectName(), names.at(i));
        QCOMPARE(widget->parentWidget(), page);
        if (auto *button = qobject_cast<QPushButton *>(widget))
            QCOMPARE(button->text(), texts.at(i));
        else
            QVERIFY(qobject_cast<QListWidget *>(widget));
    }
}

void TestForm::textsTranslatedUnderTheFormsContext()
{
    // Marks every text it translates, but only under the given context.
    class MarkingTranslator : public QTranslator
    {
    public:
        QString translate(const char *context, const char *sourceText, const char *, int) const override
        {
            return QLatin1String(context) == QLatin1String("ZRKServerBase")
                ? QStringLiteral("<%1>").arg(QLatin1String(sourceText))
                : QString();
        }
    } translator;
    QCoreApplication::installTranslator(&translator);
    const ZRKServerBase form;
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(form.windowTitle(), QStringLiteral("<ZRK Server>"));
    QCOMPARE(form.tabWidget->tabText(2), QStringLiteral("<Given Keys>"));
    QCOMPARE(form.checkButton->text(), QStringLiteral("<&Check>"));
}

QTEST_MAIN(TestForm)
#include "tst_form.moc"
