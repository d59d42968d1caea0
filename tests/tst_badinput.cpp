// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ir.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QListWidget>
#include <QPixmap>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Every file the program reads comes from outside: a camera, another device, a memory card. Each case below puts
// one kind of bad file into a key store, then runs the real window over it (start, both refreshes, a check of every
// listed key list, an issue of every listed photo) and looks for what must never happen: a crash, a hang, a lost
// photo, a changed key list, or a large jump in memory.

namespace {

using Setup = void (*)(const KeyStoreFixture &store);

constexpr bool measuresMemory = !builtWithSanitizers;
constexpr qint64 memoryBudgetKb = 100 * 1024;

// The peak resident memory of this process from construction on, less what it was at construction.
class MemoryGrowth
{
public:
    MemoryGrowth()
    {
        std::ofstream("/proc/self/clear_refs") << "5";
        m_startKb = statusField("VmRSS:");
    }
    bool isValid() const { return m_startKb > 0 && statusField("VmHWM:") <= m_startKb + 1024; }
    qint64 peakKb() const { return statusField("VmHWM:") - m_startKb; }

private:
    static qint64 statusField(const char *name)
    {
        std::ifstream status("/proc/self/status");
        std::string field;
        while (status >> field) {
            if (field == name) {
                qint64 kb = 0;
                status >> kb;
                return kb;
            }
        }
        return 0;
    }
    qint64 m_startKb = 0;
};

// A digest of every regular file below folder, sorted, found by raw names so that names the toolkit cannot decode
// count too.
QByteArrayList digestsBelow(const QString &folder)
{
    namespace fs = std::filesystem;
    QByteArrayList digests;
    std::error_code error;
    for (fs::recursive_directory_iterator it(QFile::encodeName(folder).toStdString(), error), end; it != end;
         it.increment(error)) {
        if (it->symlink_status().type() != fs::file_type::regular)
            continue;
        std::ifstream file(it->path(), std::ios::binary);
        QCryptographicHash digest(QCryptographicHash::Sha256);
        char piece[65536];
        while (file.read(piece, sizeof piece) || file.gcount() > 0)
            digest.addData(QByteArrayView(piece, file.gcount()));
        digests.append(digest.result());
    }
    std::sort(digests.begin(), digests.end());
    return digests;
}

QByteArray rawName(const QString &path)
{
    return QFile::encodeName(path);
}

// A file made with a name given as raw bytes, which need not be valid in any encoding.
void writeRawNamedFile(const KeyStoreFixture &store, const QByteArray &name, const QByteArray &bytes)
{
    std::ofstream(rawName(store.documents()).toStdString() + '/' + name.toStdString(), std::ios::binary)
        << bytes.toStdString();
}

QByteArray smallJpeg(bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    writer.write(QImage::fromData(jpegBytes(QSize(16, 16), 3)));
    return bytes;
}

// A small JPEG whose frame header claims side x side pixels; the data that follows is that of 16 x 16.
QByteArray hugeJpegHeader(bool progressive, int side)
{
    QByteArray bytes = smallJpeg(progressive);
    const char frameMarker[] = {'\xFF', progressive ? '\xC2' : '\xC0', 0};
    const qsizetype frame = bytes.indexOf(frameMarker);
    if (frame < 0)
        qFatal("the JPEG writer wrote no %s frame", progressive ? "progressive" : "sequential");
    // FF Cn, length (2), precision (1), height (2), width (2)
    for (qsizetype offset : {frame + 5, frame + 7}) {
        bytes[offset] = char(side >> 8);
        bytes[offset + 1] = char(side & 0xFF);
    }
    return bytes;
}

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(quint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray pngChunk(const QByteArray &type, const QByteArray &data)
{
    return bigEndian(quint32(data.size())) + type + data + bigEndian(crc32(type + data));
}

// Appends the bits of a Huffman code, most significant first, to a deflate stream that fills bytes from bit 0.
class DeflateBits
{
public:
    void put(quint32 code, int length)
    {
        for (int bit = length - 1; bit >= 0; --bit) {
            if (m_used == 0)
                m_bytes.append('\0');
            if ((code >> bit) & 1u)
                m_bytes.back() = char(quint8(m_bytes.back()) | (1u << m_used));
            m_used = (m_used + 1) % 8;
        }
    }
    QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    int m_used = 0;
};

// A zlib stream of count zero bytes, written as one fixed-Huffman block: a literal zero, then copies of 258 bytes at
// distance 1. The data never exists in memory, so the picture it makes can be as large as we like.
QByteArray zlibZeros(qint64 count)
{
    DeflateBits bits;
    bits.put(0b1, 1); // last block
    bits.put(0b10, 2); // fixed Huffman codes, type 01 written least significant bit first
    bits.put(0x30, 8); // literal 0
    for (qint64 copied = 1; copied + 258 <= count; copied += 258) {
        bits.put(0xC5, 8); // length 258
        bits.put(0, 5); // distance 1
    }
    for (qint64 literal = 0; literal < (count - 1) % 258; ++literal)
        bits.put(0x30, 8);
    bits.put(0, 7); // end of block
    // Adler-32 of zeros: its sum stays 1, its sum of sums is the count.
    const quint32 adler = (quint32(count % 65521) << 16) | 1u;
    return QByteArray("\x78\x01") + bits.bytes() + bigEndian(adler);
}

// A black PNG of side x side pixels, a few megabytes on disk at most: grey with one or eight bits a pixel, or RGB
// with eight bits a channel, that one plain or interlaced (which cannot be scaled while it is read).
enum class PngKind { OneBitGrey, Grey, Rgb, InterlacedRgb };

QByteArray hugePng(int side, PngKind kind)
{
    const int bitsPerPixel = kind == PngKind::OneBitGrey ? 1 : kind == PngKind::Grey ? 8 : 24;
    const bool interlaced = kind == PngKind::InterlacedRgb;
    const auto scanBytes = [bitsPerPixel](qint64 columns, qint64 rows) {
        return columns > 0 ? rows * (1 + (columns * bitsPerPixel + 7) / 8) : 0;
    };
    const auto passes = [side](int start, int step) { return (side - start + step - 1) / step; };
    // Adam7: seven passes over ever finer grids, each pass its own run of scan lines.
    const qint64 dataBytes = !interlaced ? scanBytes(side, side)
                                         : scanBytes(passes(0, 8), passes(0, 8)) + scanBytes(passes(4, 8), passes(0, 8))
            + scanBytes(passes(0, 4), passes(4, 8)) + scanBytes(passes(2, 4), passes(0, 4))
            + scanBytes(passes(0, 2), passes(2, 4)) + scanBytes(passes(1, 2), passes(0, 2))
            + scanBytes(side, passes(1, 2));
    // bit depth, colour type, compression, filter, interlace
    QByteArray format(5, '\0');
    format[0] = char(kind == PngKind::OneBitGrey ? 1 : 8);
    format[1] = char(bitsPerPixel == 24 ? 2 : 0);
    format[4] = char(interlaced ? 1 : 0);
    const QByteArray header = bigEndian(side) + bigEndian(side) + format;
    return QByteArray("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", header) + pngChunk("IDAT", zlibZeros(dataBytes))
        + pngChunk("IEND", {});
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

void makeFifo(const QString &path)
{
    if (mkfifo(rawName(path).constData(), 0644) != 0)
        qFatal("cannot make FIFO %s", qPrintable(path));
}

// A listening Unix socket at path; it stays in the folder after its descriptor is closed.
void makeSocket(const QString &path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray name = rawName(path);
    if (size_t(name.size()) >= sizeof(address.sun_path))
        qFatal("socket path too long: %s", name.constData());
    std::copy(name.begin(), name.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 || listen(fd, 1) != 0)
        qFatal("cannot make socket %s", name.constData());
    close(fd);
}

constexpr char passingList[] = "zrk_1.key.jpg\nzrk_2.key.jpg\n";

// The cases of the table: each puts its bad files into the store.

void zeroBytePhoto(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("empty.jpg"));
}

void truncatedPhoto(const KeyStoreFixture &store)
{
    const QByteArray bytes = jpegBytes(QSize(64, 48), 7);
    store.writeFile(QStringLiteral("truncated.jpg"), bytes.left(bytes.size() / 2));
    // The decoder says so once: the window's second scan of the document folder finds the thumbnail remembered.
    QTest::ignoreMessage(QtWarningMsg, "Corrupt JPEG data: premature end of data segment");
}

void randomBytesPhoto(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("noise.jpg"), randomBytes(100000, 11));
}

void progressivePhoto(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("web.jpg"), smallJpeg(true));
}

template<int side, bool progressive>
void jpegClaiming(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("giant.jpg"), hugeJpegHeader(progressive, side));
}

template<int side, PngKind kind>
void pngPhoto(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("poster.jpg"), hugePng(side, kind));
}

void fifoAndSocket(const KeyStoreFixture &store)
{
    makeFifo(store.documents() + QStringLiteral("/pipe.jpg.list"));
    makeSocket(store.documents() + QStringLiteral("/socket.jpg.list"));
    store.writePhoto(QStringLiteral("real.jpg"));
}

void symbolicLinkLoops(const KeyStoreFixture &store)
{
    const QString album = store.documents() + QStringLiteral("/album");
    store.writePhoto(QStringLiteral("album/real.jpg"));
    store.writeFile(QStringLiteral("album/real.list"), passingList);
    QFile::link(QStringLiteral(".."), album + QStringLiteral("/up"));
    QFile::link(QStringLiteral("."), album + QStringLiteral("/here.jpg.list"));
    QFile::link(QStringLiteral("self.jpg.list"), album + QStringLiteral("/self.jpg.list"));
}

void deepTree(const KeyStoreFixture &store)
{
    const QString deep = QStringLiteral("d/").repeated(200);
    store.writePhoto(deep + QStringLiteral("deep.jpg"));
    store.writeFile(deep + QStringLiteral("deep.list"), passingList);
}

void namesWithSpaces(const KeyStoreFixture &store)
{
    store.writePhoto(QStringLiteral("summer trip/my photo.jpg"));
    store.writeFile(QStringLiteral("summer trip/key list.list"), passingList);
}

void namesWithPerCentSigns(const KeyStoreFixture &store)
{
    store.writePhoto(QStringLiteral("100%/50% off %s%n.jpg"));
    store.writeFile(QStringLiteral("100%/%d%%.list"), "zrk_%1.key.jpg\n");
}

void namesWithPlaceholders(const KeyStoreFixture &store)
{
    store.writePhoto(QStringLiteral("%1/%1 %2.jpg"));
    store.writeFile(QStringLiteral("%1/%1.list"), "%1 %2\n");
}

void namesWithNewlines(const KeyStoreFixture &store)
{
    store.writePhoto(QStringLiteral("new\nfolder/new\nphoto.jpg"));
    store.writeFile(QStringLiteral("new\nfolder/new\nlist.list"), passingList);
}

void namesNotUtf8(const KeyStoreFixture &store)
{
    writeRawNamedFile(store, "caf\xE9.jpg", jpegBytes(QSize(16, 16)));
    writeRawNamedFile(store, "\xFF\xFE.list", passingList);
}

void zeroByteKeyList(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("empty.list"));
}

void binaryKeyList(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("binary.list"), randomBytes(1 << 20, 5));
}

// 64 MB without a line end, written in pieces.
void oneLineKeyList(const KeyStoreFixture &store)
{
    QFile file(store.writeFile(QStringLiteral("huge.list")));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
    const QByteArray piece(1024 * 1024, 'A');
    for (int i = 0; i < 64; ++i)
        file.write(piece);
}

void crLfKeyList(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("windows.list"), "zrk_1.key.jpg\r\nzrk_2.key.jpg\r\n");
}

void utf8BomKeyList(const KeyStoreFixture &store)
{
    store.writeFile(QStringLiteral("bom.list"), QByteArray("\xEF\xBB\xBF") + passingList);
}

void utf16KeyList(const KeyStoreFixture &store)
{
    const QString text = QChar(QChar::ByteOrderMark) + QString::fromLatin1(passingList);
    store.writeFile(
        QStringLiteral("utf16.list"), QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
}

// What the window shows for a check of the key list in row.
QString checkOutcome(ZRKServer &window, int row)
{
    window.checkList->setCurrentRow(row);
    const QStringList shown = messageTextsDuring([&] { window.checkButton->click(); });
    return shown.size() == 1 ? shown.first() : QStringLiteral("%1 boxes").arg(shown.size());
}

} // namespace

Q_DECLARE_METATYPE(Setup)

class TestBadInput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void initTestCase();
    void listedOrRefused_data();
    void listedOrRefused();
    void keyListReplacedByFifoAfterRefresh();
    void unreadableKeyList();

private:
    // Starts the window over store (whose sent-keys folder holds the keys 1 and 2), checks every listed key list
    // against outcome and issues every listed photo; fails on a lost file, a changed key list or memory growth.
    void runWindow(const KeyStoreFixture &store, const QStringList &photos, const QStringList &keyLists, bool pictured,
        const QRegularExpression &outcome, Setup afterListing = nullptr);
    FakeInfrared m_infrared;
};

void TestBadInput::init()
{
    failOnUnexpectedWarnings();
}

void TestBadInput::initTestCase()
{
    // The first window loads fonts, styles and plug-ins; that is no case's growth.
    KeyStoreFixture store;
    store.writeFile(QStringLiteral("warm-up.list"), passingList);
    ZRKServer window;
    checkOutcome(window, 0);
}

void TestBadInput::listedOrRefused_data()
{
    QTest::addColumn<Setup>("setup");
    // What the Send and the Check list show, relative to the document folder.
    QTest::addColumn<QStringList>("photos");
    QTest::addColumn<QStringList>("keyLists");
    // Whether the listed photos have a picture.
    QTest::addColumn<bool>("pictured");
    // What checking each listed key list shows.
    QTest::addColumn<QString>("outcome");

    const auto one = [](const QString &path) { return QStringList {path}; };
    const QStringList none;
    const QString deep = QStringLiteral("d/").repeated(200);

    QTest::newRow("zero-byte photo") << Setup(zeroBytePhoto) << one(u"empty.jpg"_s) << none << false << QString();
    // The decoder shows what arrived and fills in the rest.
    QTest::newRow("truncated photo") << Setup(truncatedPhoto) << one(u"truncated.jpg"_s) << none << true << QString();
    QTest::newRow("random bytes as a photo")
        << Setup(randomBytesPhoto) << one(u"noise.jpg"_s) << none << false << QString();
    QTest::newRow("progressive photo of ordinary size")
        << Setup(progressivePhoto) << one(u"web.jpg"_s) << none << true << QString();
    QTest::newRow("JPEG claiming 65500 x 65500")
        << Setup(jpegClaiming<65500, false>) << one(u"giant.jpg"_s) << none << false << QString();
    QTest::newRow("progressive JPEG claiming 65500 x 65500")
        << Setup(jpegClaiming<65500, true>) << one(u"giant.jpg"_s) << none << false << QString();
    // Small enough, once reduced while decoding, to pass the toolkit's own limit on one image.
    QTest::newRow("JPEG claiming 40000 x 40000")
        << Setup(jpegClaiming<40000, false>) << one(u"giant.jpg"_s) << none << false << QString();
    QTest::newRow("progressive JPEG claiming 40000 x 40000")
        << Setup(jpegClaiming<40000, true>) << one(u"giant.jpg"_s) << none << false << QString();
    QTest::newRow("grey PNG of 20000 x 20000 named as a photo")
        << Setup(pngPhoto<20000, PngKind::Grey>) << one(u"poster.jpg"_s) << none << false << QString();
    QTest::newRow("one-bit PNG of 20000 x 20000 named as a photo")
        << Setup(pngPhoto<20000, PngKind::OneBitGrey>) << one(u"poster.jpg"_s) << none << false << QString();
    QTest::newRow("interlaced PNG of 5600 x 5600 named as a photo")
        << Setup(pngPhoto<5600, PngKind::InterlacedRgb>) << one(u"poster.jpg"_s) << none << false << QString();

    QTest::newRow("FIFO and socket named as photo and key list")
        << Setup(fifoAndSocket) << one(u"real.jpg"_s) << none << true << QString();
    QTest::newRow("symbolic link loops") << Setup(symbolicLinkLoops) << one(u"album/real.jpg"_s)
                                         << one(u"album/real.list"_s) << true << Message::prize;
    QTest::newRow("folder tree 200 levels deep")
        << Setup(deepTree) << one(deep + u"deep.jpg"_s) << one(deep + u"deep.list"_s) << true << Message::prize;

    QTest::newRow("names with spaces") << Setup(namesWithSpaces) << one(u"summer trip/my photo.jpg"_s)
                                       << one(u"summer trip/key list.list"_s) << true << Message::prize;
    QTest::newRow("names with per-cent signs")
        << Setup(namesWithPerCentSigns) << one(u"100%/50% off %s%n.jpg"_s) << one(u"100%/%d%%.list"_s) << true
        << QStringLiteral("Invalid Key: zrk_%1\\.key\\.jpg\\.");
    QTest::newRow("names with %1") << Setup(namesWithPlaceholders) << one(u"%1/%1 %2.jpg"_s) << one(u"%1/%1.list"_s)
                                   << true << QStringLiteral("Invalid Key: %1 %2\\.");
    QTest::newRow("names with newlines") << Setup(namesWithNewlines) << one(u"new\nfolder/new\nphoto.jpg"_s)
                                         << one(u"new\nfolder/new\nlist.list"_s) << true << Message::prize;
    // Such names cannot be spelt as the toolkit's strings, so the program can neither show nor open them: they
    // are left alone.
    QTest::newRow("names not valid UTF-8") << Setup(namesNotUtf8) << none << none << false << QString();

    QTest::newRow("zero-byte key list") << Setup(zeroByteKeyList) << none << one(u"empty.list"_s) << false
                                        << QStringLiteral("No keys in list\\.");
    QTest::newRow("binary key list") << Setup(binaryKeyList) << none << one(u"binary.list"_s) << false
                                     << QStringLiteral("Invalid Key: (.|\n){1,80}(\\.\\.\\.)?\\.");
    QTest::newRow("64 MB key list in one line")
        << Setup(oneLineKeyList) << none << one(u"huge.list"_s) << false << QStringLiteral("Key list too long\\.");
    QTest::newRow("CR LF key list") << Setup(crLfKeyList) << none << one(u"windows.list"_s) << false << Message::prize;
    QTest::newRow("UTF-8 key list with byte-order mark")
        << Setup(utf8BomKeyList) << none << one(u"bom.list"_s) << false << Message::prize;
    QTest::newRow("UTF-16 key list with byte-order mark")
        << Setup(utf16KeyList) << none << one(u"utf16.list"_s) << false << Message::prize;
}

void TestBadInput::listedOrRefused()
{
    QFETCH(Setup, setup);
    QFETCH(QStringList, photos);
    QFETCH(QStringList, keyLists);
    QFETCH(bool, pictured);
    QFETCH(QString, outcome);

    KeyStoreFixture store;
    setup(store);
    runWindow(store, photos, keyLists, pictured, QRegularExpression(QRegularExpression::anchoredPattern(outcome)));
}

// A key list that was a plain file at the refresh and is a FIFO by the time it is checked: opening it for reading
// would wait for a writer for ever.
void TestBadInput::keyListReplacedByFifoAfterRefresh()
{
    KeyStoreFixture store;
    store.writeFile(QStringLiteral("visitor.list"), passingList);
    runWindow(store, {}, {QStringLiteral("visitor.list")}, false,
        QRegularExpression(QStringLiteral("^Can't read file\\.$")), [](const KeyStoreFixture &store) {
            const QString path = store.documents() + QStringLiteral("/visitor.list");
            QFile::remove(path);
            makeFifo(path);
        });
}

// On the device the program runs as root, which reads anything; a damaged card is what makes a list unreadable
// there. Here the test drops to another user for the check, so that a mode of 000 really refuses the read.
void TestBadInput::unreadableKeyList()
{
    KeyStoreFixture store;
    const QString keyList = store.writeFile(QStringLiteral("locked.list"), passingList);
    QVERIFY(QFile::setPermissions(keyList, {}));
    // The other user must reach the document folder.
    QVERIFY(QFile::setPermissions(store.root(), QFile::permissions(store.root()) | QFile::ExeOther));
    const QByteArrayList before = digestsBelow(store.documents());

    ZRKServer window;
    QCOMPARE(window.checkList->count(), 1);
    const bool root = geteuid() == 0;
    if (root && seteuid(65534) != 0)
        QSKIP("running as root and cannot take another user's identity, so no file is unreadable here");
    const QString shown = checkOutcome(window, 0);
    if (root && seteuid(0) != 0)
        qFatal("cannot return to root");
    QCOMPARE(shown, Message::cannotRead);
    QVERIFY(QFile::setPermissions(keyList, QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(digestsBelow(store.documents()), before);
}

void TestBadInput::runWindow(const KeyStoreFixture &store, const QStringList &photos, const QStringList &keyLists,
    bool pictured, const QRegularExpression &outcome, Setup afterListing)
{
    // Raw names the toolkit cannot spell would outlive the temporary folder's own clean-up.
    const std::unique_ptr<const KeyStoreFixture, void (*)(const KeyStoreFixture *)> removeTree(
        &store, [](const KeyStoreFixture *store) {
            std::error_code ignored;
            std::filesystem::remove_all(QFile::encodeName(store->documents()).toStdString(), ignored);
        });
    const QString keyOne = store.writePhoto(QStringLiteral(".sentKeys/zrk_1.key.jpg"), QSize(8, 8), 1);
    const QString keyTwo = store.writePhoto(QStringLiteral(".sentKeys/zrk_2.key.jpg"), QSize(8, 8), 2);
    const auto relative = [&store](const QStringList &texts) {
        QStringList paths;
        for (const QString &text : texts)
            paths.append(QDir(store.documents()).relativeFilePath(text));
        paths.sort();
        return paths;
    };
    const DebugLines quiet;
    const qsizetype beamsBefore = m_infrared.beams().size();

    const MemoryGrowth memory;
    QVERIFY2(!measuresMemory || memory.isValid(), "cannot measure peak memory here");
    std::unique_ptr<ZRKServer> window;
    QVERIFY(messagesDuring([&] {
        window = std::make_unique<ZRKServer>();
        window->refreshNewPhotosButton->click();
        window->refreshCheckButton->click();
    }).isEmpty());
    QCOMPARE(relative(textsOf(window->sendList)), photos);
    QCOMPARE(relative(textsOf(window->checkList)), keyLists);
    QCOMPARE(textsOf(window->givenList), (QStringList {keyOne, keyTwo}));
    QList<bool> pictures;
    for (int row = 0; row < window->sendList->count(); ++row)
        pictures.append(!window->sendList->item(row)->data(Qt::DecorationRole).value<QPixmap>().isNull());
    if (afterListing)
        afterListing(store);
    const QByteArrayList before = digestsBelow(store.documents());

    for (int row = 0; row < window->checkList->count(); ++row) {
        const QString shown = checkOutcome(*window, row);
        QVERIFY2(outcome.match(shown).hasMatch(), qPrintable(QStringLiteral("the check showed: ") + shown));
    }
    while (window->sendList->count() > 0) {
        const QString photo = window->sendList->item(0)->text();
        const QByteArray bytes = readAll(photo);
        window->sendList->setCurrentRow(0);
        const QStringList shown = messageTextsDuring([&] { window->sendNewKeyButton->click(); });
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));
        QVERIFY(!QFile::exists(photo));
        QCOMPARE(readAll(window->givenList->item(window->givenList->count() - 1)->text()), bytes);
    }
    // Each beam runs to its end before the window goes.
    QVERIFY(QTest::qWaitFor([&] { return window->findChildren<Ir *>().isEmpty(); }));
    QCOMPARE(m_infrared.beams().size(), beamsBefore + photos.size());
    window.reset();

    const qint64 growthKb = memory.peakKb();
    qInfo("peak memory growth: %lld kB", growthKb);
    QVERIFY2(!measuresMemory || growthKb < memoryBudgetKb,
        qPrintable(QStringLiteral("peak memory grew by %1 MB").arg(growthKb / 1024)));
    QCOMPARE(pictures, QList<bool>(photos.size(), pictured));
    // Photos are only ever renamed and key lists only read: the same contents, wherever they are now.
    QCOMPARE(digestsBelow(store.documents()), before);
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
