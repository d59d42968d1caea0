// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "testsupport.h"

#include "infraredbeam.h"
#include "keystore.h"

#include <QBuffer>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QPainter>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// No test may ever see the real key store: until a fixture says otherwise, the program looks at a folder that
// does not exist.
void pointKeyStoreNowhere()
{
    KeyStore::setDocumentFolderForTesting(QStringLiteral("/nonexistent/zrk-test-key-store"));
}
Q_CONSTRUCTOR_FUNCTION(pointKeyStoreNowhere)

// Nor the machine's own Bluetooth: a test without its stand-in buses finds no bus at all.
void pointBusesNowhere()
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zrk-test-system-bus");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zrk-test-session-bus");
}
Q_CONSTRUCTOR_FUNCTION(pointBusesNowhere)

// Nor the desktop's thumbnails in the real home: outside a key store fixture, no thumbnail can be written at all.
void pointDesktopThumbnailsNowhere()
{
    qputenv("XDG_CACHE_HOME", "/nonexistent/zrk-test-cache");
}
Q_CONSTRUCTOR_FUNCTION(pointDesktopThumbnailsNowhere)

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
    requireUsable(m_cacheHome);
    if (documentFolder == WithDocumentFolder)
        QDir(m_dir.path()).mkdir(QStringLiteral("Documents"));
    KeyStore::setDocumentFolderForTesting(documents());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome()));
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

bool killedAtStep(int step, const std::function<void()> &moves, FileMove::TestHooks hooks)
{
    const pid_t child = ::fork();
    if (child == 0) {
        int steps = 0;
        hooks.betweenSteps = [&steps, step] {
            if (++steps == step)
                ::raise(SIGKILL);
        };
        FileMove::setTestHooks(hooks);
        moves();
        // Nothing of the parent's, such as its temporary folders, is cleaned up by the child.
        ::_exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFSIGNALED(status);
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

ScratchFileSystem::ScratchFileSystem(const QString &folder, const QString &source) : m_folder(folder)
{
    if (!mountsPromised()) {
        m_error = QStringLiteral("not in a private mount namespace");
        return;
    }
    QDir().mkpath(folder);
    if (::mount(QFile::encodeName(source).constData(), QFile::encodeName(folder).constData(), nullptr, MS_BIND, nullptr)
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
    setBehaviour(Succeeds);
    setAvailable(true);
    setKernelHasIrda(true);
}

FakeInfrared::~FakeInfrared()
{
    qputenv("PATH", m_savedPath);
    InfraredBeam::setKernelIrdaForTesting(std::nullopt);
}

void FakeInfrared::setBehaviour(Behaviour behaviour)
{
    static const char *const endings[] = {
        "echo 'Sending...done'\n",
        "echo 'Connecting...failed: connect'\nexit 1\n",
        "kill -SEGV $$\n",
        "exec sleep 600\n",
        "",
    };
    // A script whose interpreter does not exist is found on PATH but cannot start.
    const QByteArray interpreter = behaviour == CannotStart ? "#!/nonexistent/sh\n" : "#!/bin/sh\n";
    writeFileAt(m_dir.path() + QStringLiteral("/bin/obexftp"),
        interpreter
            + "for last; do :; done\n"
              "if [ -f \"$last\" ]; then state=there; else state=missing; fi\n"
              "{ printf '%s' \"$state\"; for arg; do printf '\\t%s' \"$arg\"; done; printf '\\n'; } >> \""
            + QFile::encodeName(m_dir.path()) + "/beams.log\"\n" + endings[behaviour]);
    QFile::setPermissions(
        m_dir.path() + QStringLiteral("/bin/obexftp"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void FakeInfrared::setKernelHasIrda(bool present)
{
    InfraredBeam::setKernelIrdaForTesting(present);
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

namespace {

// Any client may own, send and receive anything: the buses belong to one test.
QByteArray busConfig(const char *type)
{
    return QByteArray("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                      " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                      "<busconfig>\n"
                      "  <type>")
        + type
        + "</type>\n"
          "  <listen>unix:tmpdir=/tmp</listen>\n"
          "  <auth>EXTERNAL</auth>\n"
          "  <policy context=\"default\">\n"
          "    <allow user=\"*\"/>\n"
          "    <allow own=\"*\"/>\n"
          "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
          "    <allow receive_sender=\"*\"/>\n"
          "  </policy>\n"
          "</busconfig>\n";
}

QDBusMessage bluezMock(const QString &method)
{
    return QDBusMessage::createMethodCall(
        QStringLiteral("org.bluez"), QStringLiteral("/"), QStringLiteral("org.bluez.Mock"), method);
}

QDBusMessage setProperty(const QString &path, const QString &interface, const QString &name, const QVariant &value)
{
    QDBusMessage set = QDBusMessage::createMethodCall(
        QStringLiteral("org.bluez"), path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Set"));
    set << interface << name << QVariant::fromValue(QDBusVariant(value));
    return set;
}

bool answered(const QDBusMessage &message)
{
    return QDBusConnection::systemBus().call(message).type() == QDBusMessage::ReplyMessage;
}

const QString adapterPath = QStringLiteral("/org/bluez/hci0");
const QString deviceInterface = QStringLiteral("org.bluez.Device1");

QString devicePath(const QString &address)
{
    return adapterPath + QStringLiteral("/dev_") + QString(address).replace(QLatin1Char(':'), QLatin1Char('_'));
}

} // namespace

StandInBluetooth::StandInBluetooth(Obexd obexd)
{
    requireUsable(m_dir);
    const QString systemBus = startBus(QStringLiteral("system"));
    const QString sessionBus = startBus(QStringLiteral("session"));
    if (!m_error.isEmpty())
        return;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus.toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", sessionBus.toLocal8Bit());
    // Debian's dbusmock belongs to Debian's own interpreter, which may not come first on PATH.
    startProcess(QStringLiteral("/usr/bin/python3"),
        {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"), QStringLiteral("bluez5"),
            QStringLiteral("--system")});
    if (obexd == DebianObexd)
        startDebianObexd();
    else
        startProcess(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(ZRK_TESTS_FOLDER "/obexd-standin.py"), m_dir.filePath(QStringLiteral("obex.log"))});
    // dbusmock owns its name before its template is loaded: only an answer tells it is ready.
    const QDBusMessage listObjects = QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), QStringLiteral("/"),
        QStringLiteral("org.freedesktop.DBus.ObjectManager"), QStringLiteral("GetManagedObjects"));
    const auto obexdOwnsName = [] {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.bluez.obex")).value();
    };
    if (!waitUntil([&listObjects] { return answered(listObjects); }))
        m_error = QStringLiteral("dbusmock's BlueZ did not answer");
    else if (!waitUntil(obexdOwnsName))
        m_error = QStringLiteral("the stand-in obexd did not start");
}

StandInBluetooth::~StandInBluetooth()
{
    // The services first, while their buses still run.
    for (auto it = m_processes.crbegin(); it != m_processes.crend(); ++it) {
        (*it)->kill();
        (*it)->waitForFinished();
        delete *it;
    }
}

bool StandInBluetooth::addAdapter(bool powered)
{
    QDBusMessage add = bluezMock(QStringLiteral("AddAdapter"));
    add << QStringLiteral("hci0") << QStringLiteral("zrk-server");
    return answered(add) && setPowered(powered);
}

bool StandInBluetooth::setPowered(bool powered)
{
    return answered(setProperty(adapterPath, QStringLiteral("org.bluez.Adapter1"), QStringLiteral("Powered"), powered));
}

bool StandInBluetooth::addDevice(const QString &address, const QString &name, bool paired, int rssi)
{
    QDBusMessage add = bluezMock(QStringLiteral("AddDevice"));
    add << QStringLiteral("hci0") << address << name;
    const QDBusMessage reply = QDBusConnection::systemBus().call(add);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return false;
    const QString path = reply.arguments().constFirst().toString();
    return (!paired || answered(setProperty(path, deviceInterface, QStringLiteral("Paired"), true)))
        && setRssi(address, rssi);
}

bool StandInBluetooth::addDeviceOutOfRange(const QString &address, const QString &name)
{
    // dbusmock's AddDevice always gives an RSSI; its AddObject does not check the methods' type, so none is an
    // empty list of any kind.
    QDBusMessage add = QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), QStringLiteral("/"),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddObject"));
    const QVariantMap properties {{QStringLiteral("Address"), address}, {QStringLiteral("Alias"), name},
        {QStringLiteral("Name"), name}, {QStringLiteral("Paired"), true},
        {QStringLiteral("Adapter"), QVariant::fromValue(QDBusObjectPath(adapterPath))}};
    add << devicePath(address) << deviceInterface << properties << QStringList();
    return answered(add);
}

bool StandInBluetooth::setRssi(const QString &address, int rssi)
{
    QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), devicePath(address),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("UpdateProperties"));
    update << deviceInterface << QVariantMap {{QStringLiteral("RSSI"), QVariant::fromValue(qint16(rssi))}};
    return answered(update);
}

bool StandInBluetooth::isDiscovering() const
{
    QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.bluez"), adapterPath,
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.bluez.Adapter1") << QStringLiteral("Discovering");
    const QDBusMessage reply = QDBusConnection::systemBus().call(get);
    return reply.type() == QDBusMessage::ReplyMessage
        && reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

void StandInBluetooth::reset()
{
    QDBusMessage remove = bluezMock(QStringLiteral("RemoveAdapterWithDevices"));
    remove << QStringLiteral("hci0");
    // There may be no adapter to remove.
    QDBusConnection::systemBus().call(remove);
    QFile::resize(m_dir.filePath(QStringLiteral("obex.log")), 0);
}

QStringList StandInBluetooth::obexCalls() const
{
    return QString::fromLocal8Bit(readAll(m_dir.filePath(QStringLiteral("obex.log"))))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString StandInBluetooth::obexdLog() const
{
    return QString::fromLocal8Bit(readAll(m_dir.filePath(QStringLiteral("obexd.log"))));
}

void StandInBluetooth::startDebianObexd()
{
    // Its runtime and cache folders are this test's own; -n keeps it in the foreground, -d writes its debug log.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(variable), m_dir.path());
    auto *process = new QProcess;
    process->setProcessEnvironment(environment);
    process->setStandardErrorFile(m_dir.filePath(QStringLiteral("obexd.log")));
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start(debianObexd(), {QStringLiteral("-n"), QStringLiteral("-d")});
    m_processes.append(process);
    if (!process->waitForStarted())
        m_error = debianObexd() + QStringLiteral(": ") + process->errorString();
}

QProcess *StandInBluetooth::startProcess(const QString &program, const QStringList &arguments)
{
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    m_processes.append(process);
    if (!process->waitForStarted())
        m_error = program + QStringLiteral(": ") + process->errorString();
    return process;
}

QString StandInBluetooth::startBus(const QString &name)
{
    const QString config = writeFileAt(m_dir.filePath(name + QStringLiteral(".conf")), busConfig(qPrintable(name)));
    // The address is printed once the bus listens.
    QProcess *bus = startProcess(QStringLiteral("dbus-daemon"),
        {QStringLiteral("--config-file=") + config, QStringLiteral("--address=unix:path=") + m_dir.filePath(name),
            QStringLiteral("--print-address"), QStringLiteral("--nofork")});
    while (bus->state() == QProcess::Running && !bus->canReadLine())
        bus->waitForReadyRead(100);
    const QString address = QString::fromLocal8Bit(bus->readLine()).trimmed();
    if (address.isEmpty() && m_error.isEmpty())
        m_error = QStringLiteral("the %1 bus did not start").arg(name);
    return address;
}

bool StandInBluetooth::waitUntil(const std::function<bool()> &ready)
{
    return QTest::qWaitFor(ready, 30000);
}
