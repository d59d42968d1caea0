#include "testsupport.h"

#include "keystore.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <QRandomGenerator>

#include <cerrno>
#include <sys/mount.h>

namespace {

// No test may ever see the real key store: until a fixture says otherwise, the program looks at a folder that
// does not exist.
void pointKeyStoreNowhere()
{
    KeyStore::setDocumentFolderForTesting(QStringLiteral("/nonexistent/zrk-test-key-store"));
}
Q_CONSTRUCTOR_FUNCTION(pointKeyStoreNowhere)

QMutex debugMutex;
QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

void recordDebugLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        const QMutexLocker lock(&debugMutex);
        debugLines.append(message);
        return;
    }
    previousHandler(type, context, message);
}

// Without a folder of its own no test can run, and none may fall back on the real key store.
void requireUsable(const QTemporaryDir &dir)
{
    if (!dir.isValid())
        qFatal("no temporary folder: %s", qPrintable(dir.errorString()));
}

} // namespace

KeyStoreFixture::KeyStoreFixture(DocumentFolder documentFolder)
{
    requireUsable(m_dir);
    if (documentFolder == WithDocumentFolder)
        QDir(m_dir.path()).mkdir(QStringLiteral("Documents"));
    KeyStore::setDocumentFolderForTesting(documents());
}

QString KeyStoreFixture::documents() const
{
    return m_dir.path() + QStringLiteral("/Documents");
}

QString KeyStoreFixture::sentKeys() const
{
    return documents() + QStringLiteral("/.sentKeys");
}

QString KeyStoreFixture::writeFile(const QString &relativePath, const QByteArray &bytes) const
{
    return writeFileAt(documents() + QLatin1Char('/') + relativePath, bytes);
}

QString KeyStoreFixture::writePhoto(const QString &relativePath, const QSize &size, int seed) const
{
    return writeFile(relativePath, jpegBytes(size, seed));
}

QByteArray jpegBytes(const QSize &size, int seed, int quality)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    const int hue = random.bounded(360);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int noise = random.bounded(24);
            const QColor colour = QColor::fromHsv(
                (hue + x * 90 / size.width()) % 360, 160, qBound(0, 80 + y * 150 / size.height() + noise, 255));
            line[x] = colour.rgb();
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

QString writeFileAt(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList filesBelow(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

ScratchFileSystem::ScratchFileSystem(const QString &folder, int sizeKiB) : m_folder(folder)
{
    // Root could mount outside a private namespace too, where a test that dies would leave its mounts behind.
    if (!mountsPromised()) {
        m_error = QStringLiteral("not in a private mount namespace");
        return;
    }
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(sizeKiB) + 'k';
    if (::mount("scratch", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData())
        != 0)
        m_error = qt_error_string(errno);
}

ScratchFileSystem::~ScratchFileSystem()
{
    if (isMounted())
        ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

bool ScratchFileSystem::mountsPromised()
{
    return qEnvironmentVariableIsSet("ZRK_PRIVATE_MOUNTS");
}

FakeInfrared::FakeInfrared() : m_savedPath(qgetenv("PATH"))
{
    requireUsable(m_dir);
    QDir(m_dir.path()).mkdir(QStringLiteral("bin"));
    QDir(m_dir.path()).mkdir(QStringLiteral("empty"));
    const QString script = m_dir.path() + QStringLiteral("/bin/obexftp");
    QFile file(script);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n"
               "for last; do :; done\n"
               "if [ -f \"$last\" ]; then state=there; else state=missing; fi\n"
               "{ printf '%s' \"$state\"; for arg; do printf '\\t%s' \"$arg\"; done; printf '\\n'; } >> \""
        + QFile::encodeName(m_dir.path()) + "/beams.log\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setAvailable(true);
}

FakeInfrared::~FakeInfrared()
{
    qputenv("PATH", m_savedPath);
}

void FakeInfrared::setAvailable(bool available)
{
    const QString bin = m_dir.path() + (available ? QStringLiteral("/bin") : QStringLiteral("/empty"));
    // /bin stays on PATH for the script's own shell; Debian never puts obexftp there.
    qputenv("PATH", QFile::encodeName(bin) + (available ? ":/usr/bin:/bin" : ""));
}

QList<FakeInfrared::Beam> FakeInfrared::beams() const
{
    QList<Beam> beams;
    const QList<QByteArray> lines = readAll(m_dir.path() + QStringLiteral("/beams.log")).split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QStringList fields = QString::fromLocal8Bit(line).split(QLatin1Char('\t'));
        Beam beam;
        beam.fileWasThere = fields.takeFirst() == QLatin1String("there");
        beam.arguments = fields;
        beams.append(beam);
    }
    return beams;
}

DebugLines::DebugLines()
{
    const QMutexLocker lock(&debugMutex);
    debugLines.clear();
    previousHandler = qInstallMessageHandler(recordDebugLine);
}

DebugLines::~DebugLines()
{
    qInstallMessageHandler(previousHandler);
}

QStringList DebugLines::lines() const
{
    const QMutexLocker lock(&debugMutex);
    return debugLines;
}
