// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

// The window on a phone's screen, 360 x 720 logical pixels at scale 2 (ZRK_TEST_SCREEN=phone, with the offscreen
// platform given such a screen), and on an ordinary desktop screen, where nothing may change.
#include "entrydelegate.h"
#include "qpeapplication.h"
#include "testsupport.h"
#include "touchstyle.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QBuffer>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QScroller>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <cmath>

namespace {

bool onPhone()
{
    return qEnvironmentVariable("ZRK_TEST_SCREEN") == QLatin1String("phone");
}

// Upright stripes and a gradient: blown up from half its size, the stripes' edges smear.
QByteArray stripedPhoto()
{
    QImage image(1600, 1200, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(image.rect(), QLinearGradient(0, 0, 0, image.height()));
    for (int x = 0; x < image.width(); x += 100)
        painter.fillRect(x, 0, 50, image.height(), QColor(200, 40, 40));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 95);
    return bytes;
}

// Root-mean-square difference of picture from the part of image at offset, in % of the full range.
double difference(const QImage &image, const QPoint &offset, const QImage &picture)
{
    double sum = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = image.pixel(offset + QPoint(x, y));
            const QRgb q = picture.pixel(x, y);
            sum +=
                std::pow(qRed(p) - qRed(q), 2) + std::pow(qGreen(p) - qGreen(q), 2) + std::pow(qBlue(p) - qBlue(q), 2);
        }
    }
    return 100 * std::sqrt(sum / (3.0 * picture.width() * picture.height())) / 255;
}

// The place in area of image where picture matches best, and how well.
std::pair<QPoint, double> bestMatch(const QImage &image, const QRect &area, const QImage &picture)
{
    std::pair<QPoint, double> best {QPoint(), 100};
    for (int y = area.top(); y + picture.height() <= area.bottom() + 1; ++y) {
        for (int x = area.left(); x + picture.width() <= area.right() + 1; ++x) {
            const double d = difference(image, QPoint(x, y), picture);
            if (d < best.second)
                best = {QPoint(x, y), d};
        }
    }
    return best;
}

QImage scaledTo(const QImage &image, const QSize &size)
{
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestHandheld : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void windowFitsTheScreen();
    void fingerSizedTargets();
    void sharpThumbnails();
    void noListScrollsSideways();
    void verdictKeptOnOneLine();
    void elidedPath_data();
    void elidedPath();
    void elidedFileNameKeepsBothEnds();

private:
    QScreen *screen() const { return QGuiApplication::primaryScreen(); }
    qreal ratio() const { return screen()->devicePixelRatio(); }
    // A key store of a photo in deep folders, a key list and an issued key, and the window over it, maximized.
    void showWindow();

    std::unique_ptr<KeyStoreFixture> m_store;
    std::unique_ptr<ZRKServer> m_window;
    QString m_photo;
    QString m_key;
};

void TestHandheld::initTestCase()
{
    if (onPhone()) {
        QCOMPARE(screen()->geometry().size(), QSize(360, 720));
        QCOMPARE(ratio(), 2.0);
    } else {
        QVERIFY(screen()->availableGeometry().width() > 600);
        QCOMPARE(ratio(), 1.0);
    }
}

void TestHandheld::init()
{
    failOnUnexpectedWarnings();
}

void TestHandheld::cleanup()
{
    m_window.reset();
    m_store.reset();
}

void TestHandheld::showWindow()
{
    m_store = std::make_unique<KeyStoreFixture>();
    m_photo = m_store->writeFile(
        QStringLiteral("from the stand on saturday/camera roll/IMG_20260611_101500.jpg"), stripedPhoto());
    m_store->writeFile(QStringLiteral("visitors/anna.list"), QByteArrayLiteral("zrk_1650562712.key.jpg\n"));
    m_key = writeFileAt(m_store->sentKeys() + QStringLiteral("/zrk_1650562712.key.jpg"), stripedPhoto());
    m_window = std::make_unique<ZRKServer>();
    m_window->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestHandheld::windowFitsTheScreen()
{
    showWindow();
    const QRect available = screen()->availableGeometry();
    QVERIFY2(m_window->minimumSizeHint().width() <= available.width(), "the window is wider than the screen");
    QVERIFY2(m_window->minimumSizeHint().height() <= available.height(), "the window is taller than the screen");
    QVERIFY(available.contains(m_window->frameGeometry()));
}

void TestHandheld::fingerSizedTargets()
{
    showWindow();
    QList<std::pair<QString, int>> heights;
    const QTabBar *tabs = m_window->tabWidget->tabBar();
    for (int i = 0; i < tabs->count(); ++i) {
        heights.append({tabs->tabText(i), tabs->tabRect(i).height()});
        // Each page as the operator sees it, laid out.
        m_window->tabWidget->setCurrentIndex(i);
        QCoreApplication::processEvents();
        QWidget *page = m_window->tabWidget->widget(i);
        const QList<QPushButton *> buttons = page->findChildren<QPushButton *>();
        for (const QPushButton *button : buttons)
            heights.append({button->objectName(), button->height()});
        auto *list = page->findChild<QListWidget *>();
        QCOMPARE(list->count(), 1);
        heights.append({list->objectName(), list->visualItemRect(list->item(0)).height()});
        // A finger drags a list to scroll it; a mouse has its scroll bar.
        QCOMPARE(QScroller::hasScroller(list->viewport()), onPhone());
    }
    QCOMPARE(heights.size(), 3 + 6 + 3);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Message"), QStringLiteral("Can't move file."),
        QMessageBox::NoButton, m_window.get());
    box.addButton(QStringLiteral("Ok"), QMessageBox::AcceptRole);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    heights.append({QStringLiteral("a message's Ok"), box.buttons().constFirst()->height()});

    for (const auto &[target, height] : std::as_const(heights)) {
        const QString what = QStringLiteral("%1 is %2 high").arg(target).arg(height);
        if (onPhone())
            QVERIFY2(height >= TouchStyle::fingerHeight, qPrintable(what));
        else
            QVERIFY2(height < TouchStyle::fingerHeight, qPrintable(what));
    }
}

void TestHandheld::sharpThumbnails()
{
    showWindow();
    const QSize pixels = (QSizeF(33, 22) * ratio()).toSize();
    for (const QListWidget *list : {m_window->sendList, m_window->givenList}) {
        const QPixmap thumbnail = list->item(0)->data(Qt::DecorationRole).value<QPixmap>();
        QCOMPARE(thumbnail.size(), pixels);
        QCOMPARE(thumbnail.devicePixelRatio(), ratio());
    }
    if (!onPhone())
        return;
    // As drawn, the thumbnail is the photo scaled straight to its pixels, not a smaller one blown up.
    const QImage photo(m_photo);
    const QImage sharp = scaledTo(photo, pixels);
    const QImage blownUp = scaledTo(scaledTo(photo, QSize(33, 22)), pixels);
    const QImage drawn = m_window->sendList->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect row = m_window->sendList->visualItemRect(m_window->sendList->item(0));
    const QRect rowPixels(row.topLeft() * ratio(), QSize(pixels.width() * 2, row.height() * ratio()));
    const auto [at, fromSharp] = bestMatch(drawn, rowPixels, sharp);
    const double fromBlownUp = difference(drawn, at, blownUp);
    QVERIFY2(fromSharp < fromBlownUp / 3,
        qPrintable(
            QStringLiteral("%1% from the sharp picture, %2% from the blown-up one").arg(fromSharp).arg(fromBlownUp)));
}

void TestHandheld::noListScrollsSideways()
{
    showWindow();
    const QStringList expected[] = {{m_photo}, {m_store->documents() + QStringLiteral("/visitors/anna.list")}, {m_key}};
    const QListWidget *lists[] = {m_window->sendList, m_window->checkList, m_window->givenList};
    for (int i = 0; i < 3; ++i) {
        m_window->tabWidget->setCurrentIndex(i);
        QCoreApplication::processEvents();
        QCOMPARE(lists[i]->horizontalScrollBar()->maximum(), 0);
        // Only the drawing is shortened.
        QCOMPARE(textsOf(lists[i]), expected[i]);
    }
}

void TestHandheld::verdictKeptOnOneLine()
{
    showWindow();
    m_window->tabWidget->setCurrentIndex(1);
    m_window->checkList->setCurrentRow(0);
    QStringList texts;
    int lines = 0;
    QTimer poller;
    poller.setInterval(5);
    connect(&poller, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        texts.append(box->text());
        lines = label->height() / label->fontMetrics().lineSpacing();
        box->buttons().constFirst()->click();
    });
    poller.start();
    m_window->checkButton->click();
    QCOMPARE(texts, QStringList {Message::prize});
    QCOMPARE(lines, 1);
}

void TestHandheld::elidedPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    const QString key = QStringLiteral("/home/root/Documents/.sentKeys/zrk_16505627.key.jpg");
    QTest::newRow("fits whole") << key << key;
    QTest::newRow("the folders nearest the name give way")
        << key << QStringLiteral("/home/root/Documents/\u2026/zrk_16505627.key.jpg");
    QTest::newRow("down to the first folders") << key << QStringLiteral("/home/root/\u2026/zrk_16505627.key.jpg");
    QTest::newRow("down to the root") << key << QStringLiteral("/\u2026/zrk_16505627.key.jpg");
    QTest::newRow("a photo in a sub-folder") << QStringLiteral("/home/root/Documents/camera/IMG_0001.jpg")
                                             << QStringLiteral("/home/root/\u2026/IMG_0001.jpg");
}

void TestHandheld::elidedPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);

    const QFontMetrics metrics(QApplication::font());
    QCOMPARE(EntryDelegate::elidedPath(path, metrics, metrics.horizontalAdvance(expected)), expected);
}

void TestHandheld::elidedFileNameKeepsBothEnds()
{
    const QFontMetrics metrics(QApplication::font());
    const QString name = QStringLiteral("zrk_16505627.key.jpg");
    for (const QString &path : QStringList {QStringLiteral("/home/root/Documents/.sentKeys/") + name, name}) {
        const int width = metrics.horizontalAdvance(name) * 2 / 3;
        const QString elided = EntryDelegate::elidedPath(path, metrics, width);
        QVERIFY2(elided.startsWith(QStringLiteral("zrk_1")) && elided.endsWith(QStringLiteral(".jpg"))
                && elided.contains(QChar(0x2026)),
            qPrintable(elided));
        QVERIFY(metrics.horizontalAdvance(elided) <= width);
    }
}

// The application object that the program has, which draws for a finger on a handheld.
int main(int argc, char **argv)
{
    QPEApplication app(argc, argv, QPEApplication::GuiClient);
    TestHandheld test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_handheld.moc"
