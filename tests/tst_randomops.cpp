// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "filemove.h"
#include "ir.h"
#include "keystore.h"
#include "testsupport.h"
#include "windowtestsupport.h"
#include "zrkserver.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <cstdlib>
#include <functional>
#include <memory>

// Long random runs of everything an operator and the outside world do to a key store: photos and key lists
// arriving (also named like keys, also in sub-folders), both refreshes, issuing with and without infrared,
// withdrawing, checking, moving photos by hand, restarting the window, and killing the program in the middle of a
// move, with a restart after it. A model of the store predicts every
// outcome; after every step the tree, the lists and the message shown must match it, and every photo must exist
// exactly once. Photos also arrive on a card, a file system of its own, and with every even seed the sent-keys
// folder is a small file system of its own too, which fills up: so keys are issued and withdrawn across file
// systems, and some moves find no room. A failure names the seed and the step; ZRK_RANDOMOPS_SEEDS=3,17 and
// ZRK_RANDOMOPS_STEPS=5000 choose the runs. A sanitizer build, several times slower, runs the first two seeds only.

namespace {

constexpr int defaultSteps = 1000;
constexpr int recentStepsShown = 15;
const QList<quint32> defaultSeeds = builtWithSanitizers ? QList<quint32> {1, 2} : QList<quint32> {1, 2, 3, 4, 5};

// Where photos arrive; the hidden folder is never listed.
const QString card = QStringLiteral("card/");
const QStringList photoFolders = {QString(), QStringLiteral("trip/"), QStringLiteral("trip/day 2/"), card,
    QStringLiteral("100%/"), QStringLiteral(".hidden/")};
const QStringList listFolders = {QString(), QStringLiteral("inbox/")};

// The small sent-keys file system of every even seed; a tmpfs counts the pages its files take.
constexpr int sentKeysPages = 12;
constexpr int pageSize = 4096;

bool sentKeysApartFor(quint32 seed)
{
    return seed % 2 == 0;
}

// Everything up to and including the last "/"; empty for the top of the document folder.
QString folderOf(const QString &relativePath)
{
    return relativePath.left(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
}

// The model's own spelling of a key name, so that a wrong one in the program shows.
QString keyName(int number)
{
    return QStringLiteral("zrk_%1.key.jpg").arg(number);
}

// The lines a key list is read as: without line ends, the last one whether or not it has one.
QByteArray keyListBytes(const QStringList &lines, bool crLf, bool lastLineEnd)
{
    const QByteArray end = crLf ? "\r\n" : "\n";
    QByteArray bytes = lines.join(QString::fromLatin1(end)).toUtf8();
    if (lastLineEnd && !lines.isEmpty())
        bytes += end;
    return bytes;
}

class RandomOps
{
public:
    // sentKeysPageLimit: the pages that the sent-keys folder's own file system holds; 0 when it has no such limit.
    RandomOps(quint32 seed, const KeyStoreFixture &store, FakeInfrared &infrared, int sentKeysPageLimit);

    // Does one random step and compares everything with the model; returns what went wrong, empty if nothing.
    QString step();
    QString recentSteps() const { return m_trail.join(QLatin1Char('\n')); }

private:
    QString newPhoto();
    QString newKeyList();
    QString movePhotoByHand();
    QString refresh(QPushButton *button, QStringList &model, const QString &pattern);
    QString issue(bool infrared);
    QString withdraw();
    QString check();
    QString restart();
    void expectListsOfAStart();
    QString killMoveAndRestart();
    QString photoFoundAfterKill(const QString &photo, const QStringList &places);

    QString showsMessages(const std::function<void()> &action, const QStringList &expected);
    QString compareWithModel() const;

    QString absolute(const QString &relativePath) const
    {
        return m_store.documents() + QLatin1Char('/') + relativePath;
    }
    QString relative(const QString &path) const { return path.mid(m_store.documents().size() + 1); }
    void moveFile(const QString &from, const QString &to) { m_files.insert(to, m_files.take(from)); }
    QStringList scan(const QString &pattern) const;
    QStringList givenAtStart() const;
    QSet<QString> issuedStems() const;
    bool sentKeysHaveRoomFor(const QByteArray &bytes) const;
    QString someKeyName();
    QString keyListLine();
    template<typename T>
    const T &pick(const QList<T> &list)
    {
        return list.at(m_random.bounded(int(list.size())));
    }
    bool chance(int percent) { return int(m_random.bounded(100)) < percent; }

    QRandomGenerator m_random;
    const KeyStoreFixture &m_store;
    FakeInfrared &m_infrared;
    const int m_sentKeysPageLimit;
    std::unique_ptr<ZRKServer> m_window;
    QList<QByteArray> m_jpegs;
    int m_made = 0;
    int m_beams = 0;
    QStringList m_trail;

    // The model: every file below the document folder (relative path and bytes), and what the lists must show.
    QMap<QString, QByteArray> m_files;
    QSet<QByteArray> m_photos;
    QMap<QString, QStringList> m_keyListLines;
    QList<int> m_everDrawn;
    QStringList m_send;
    QStringList m_check;
    QStringList m_given;
};

RandomOps::RandomOps(quint32 seed, const KeyStoreFixture &store, FakeInfrared &infrared, int sentKeysPageLimit)
    : m_random(seed), m_store(store), m_infrared(infrared), m_sentKeysPageLimit(sentKeysPageLimit)
{
    // Tiny photos of a few sizes, so that the size order of the lists has ties and differences to keep.
    for (const QSize &size : {QSize(8, 8), QSize(16, 8), QSize(8, 16), QSize(24, 16)})
        m_jpegs.append(jpegBytes(size, size.width()));
    m_window = std::make_unique<ZRKServer>();
}

QString RandomOps::step()
{
    struct Weighted
    {
        int weight;
        std::function<QString(RandomOps *)> run;
    };
    static const QList<Weighted> steps = {
        {14, &RandomOps::newPhoto},
        {6, &RandomOps::newKeyList},
        {3, &RandomOps::movePhotoByHand},
        {9,
            [](RandomOps *ops) {
                return ops->refresh(ops->m_window->refreshNewPhotosButton, ops->m_send, QStringLiteral(".jpg"));
            }},
        {5,
            [](RandomOps *ops) {
                return ops->refresh(ops->m_window->refreshCheckButton, ops->m_check, QStringLiteral(".list"));
            }},
        {14, [](RandomOps *ops) { return ops->issue(true); }},
        {6, [](RandomOps *ops) { return ops->issue(false); }},
        {12, &RandomOps::withdraw},
        {16, &RandomOps::check},
        {3, &RandomOps::restart},
        {2, &RandomOps::killMoveAndRestart},
    };
    static const int total = [] {
        int sum = 0;
        for (const Weighted &step : steps)
            sum += step.weight;
        return sum;
    }();
    int roll = m_random.bounded(total);
    for (const Weighted &step : steps) {
        roll -= step.weight;
        if (roll >= 0)
            continue;
        const QString error = step.run(this);
        while (m_trail.size() > recentStepsShown)
            m_trail.removeFirst();
        return error.isEmpty() ? compareWithModel() : error;
    }
    return QStringLiteral("no step chosen");
}

QString RandomOps::newPhoto()
{
    const int number = ++m_made;
    QString path = pick(photoFolders) + QStringLiteral("IMG_%1.jpg").arg(number);
    if (chance(10))
        path = pick(photoFolders) + QStringLiteral("copy %1.jpg.bak").arg(number);
    // A photo named like a key issued before: its return path is taken.
    if (chance(10) && !m_everDrawn.isEmpty())
        path = keyName(pick(m_everDrawn));
    if (m_files.contains(path))
        return {};
    // Each photo's bytes are its own, so a photo can be followed wherever it is renamed to.
    const QByteArray bytes = pick(m_jpegs) + "photo " + QByteArray::number(number);
    m_store.writeFile(path, bytes);
    m_files.insert(path, bytes);
    m_photos.insert(bytes);
    m_trail.append(QStringLiteral("new photo ") + path);
    return {};
}

QString RandomOps::newKeyList()
{
    QStringList lines;
    // A visitor's honest list holds keys issued now; others hold anything.
    const bool honest = !m_given.isEmpty() && chance(60);
    const int count = honest ? 1 + m_random.bounded(4) : m_random.bounded(7);
    for (int i = 0; i < count; ++i)
        lines.append(honest ? KeyStore::fileNameOf(pick(m_given)) : keyListLine());
    const bool crLf = chance(30);
    const QString path = pick(listFolders) + QStringLiteral("visitor %1.list").arg(++m_made);
    // Without a line end after it, an empty last line is no line at all.
    const bool lastLineEnd = chance(80) || (!lines.isEmpty() && lines.last().isEmpty());
    const QByteArray bytes = keyListBytes(lines, crLf, lastLineEnd);
    m_store.writeFile(path, bytes);
    m_files.insert(path, bytes);
    m_keyListLines.insert(path, lines);
    m_trail.append(QStringLiteral("new key list %1%2: %3")
                       .arg(path, crLf ? QStringLiteral(" (CR LF)") : QString(), lines.join(QStringLiteral(" | "))));
    return {};
}

// The name of a key issued now, issued once and withdrawn since, or never issued.
QString RandomOps::someKeyName()
{
    if (!m_given.isEmpty() && chance(50))
        return KeyStore::fileNameOf(pick(m_given));
    if (!m_everDrawn.isEmpty() && chance(70))
        return keyName(pick(m_everDrawn));
    return keyName(m_random.bounded(1000000));
}

QString RandomOps::keyListLine()
{
    const QString key = someKeyName();
    switch (m_random.bounded(12)) {
    case 0:
        return QString();
    case 1:
        return QStringLiteral(" \t");
    case 2:
        return QStringLiteral("  ") + key + QStringLiteral("\t ");
    case 3: // another four-character ending
        return key.chopped(4) + QStringLiteral(".txt");
    case 4:
        return key.toUpper();
    case 5: // the tail of a key name
        return key.mid(1 + m_random.bounded(4));
    case 6:
        return key + QLatin1Char('X');
    case 7:
        return key.chopped(4);
    case 8:
        return pick(QStringList {QStringLiteral("Documents1234"), QStringLiteral("abcd"), QStringLiteral("%1"),
            QStringLiteral("%s%n%x"), QStringLiteral(".sentKeys/") + key});
    default:
        return key;
    }
}

QString RandomOps::movePhotoByHand()
{
    QStringList movable;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (m_photos.contains(it.value()) && !it.key().startsWith(QLatin1String(".sentKeys/")))
            movable.append(it.key());
    }
    if (movable.isEmpty())
        return {};
    const QString from = pick(movable);
    const QString to = pick(photoFolders) + QStringLiteral("moved %1.jpg").arg(++m_made);
    QDir().mkpath(absolute(folderOf(to)));
    if (!QFile::rename(absolute(from), absolute(to)))
        return QStringLiteral("the test could not move %1").arg(from);
    moveFile(from, to);
    m_trail.append(QStringLiteral("moved by hand %1 -> %2").arg(from, to));
    return {};
}

QString RandomOps::refresh(QPushButton *button, QStringList &model, const QString &pattern)
{
    m_trail.append(QStringLiteral("refresh ") + pattern);
    model = scan(pattern);
    return showsMessages([button] { button->click(); }, {});
}

QString RandomOps::issue(bool infrared)
{
    m_infrared.setAvailable(infrared);
    QListWidget *list = m_window->sendList;
    const int row = list->count() == 0 || chance(5) ? -1 : m_random.bounded(list->count());
    list->setCurrentRow(row);
    // The key number the window will draw: the next rand() after a seed of our choosing. Seeds from a small pool
    // draw the same numbers again, so key names collide.
    const unsigned seed = chance(40) ? 1 + m_random.bounded(6) : m_random.generate();
    srand(seed);
    const int number = rand();
    srand(seed);
    const auto click = [this] { m_window->sendNewKeyButton->click(); };

    const QString photoPath = row < 0 ? QString() : relative(list->item(row)->text());
    m_trail.append(QStringLiteral("issue %1 %2 as key %3")
                       .arg(infrared ? QLatin1String("with") : QLatin1String("without"), photoPath)
                       .arg(number));
    if (row < 0)
        return showsMessages(click, {Message::selectItem});
    if (!m_files.contains(photoPath))
        return showsMessages(click, {Message::photoGone});
    // Issued, the key would go nowhere: nothing changes.
    if (!infrared)
        return showsMessages(click, {Message::noLink});
    const QString keyPath = folderOf(photoPath) + keyName(number);
    if (m_files.contains(keyPath))
        return showsMessages(click, {Message::cannotRename});

    moveFile(photoPath, keyPath);
    const QString sentPath = QStringLiteral(".sentKeys/") + keyName(number);
    m_everDrawn.append(number);
    // Not issued: the photo takes its own name back and keeps its place on the Send list.
    if (m_files.contains(sentPath) || !sentKeysHaveRoomFor(m_files.value(keyPath))) {
        moveFile(keyPath, photoPath);
        return showsMessages(click, {Message::cannotMove});
    }
    moveFile(keyPath, sentPath);
    m_send.removeOne(absolute(photoPath));
    m_given.append(absolute(sentPath));
    if (const QString error = showsMessages(click, {}); !error.isEmpty())
        return error;

    ++m_beams;
    if (!QTest::qWaitFor([this] { return m_window->findChildren<Ir *>().isEmpty(); }))
        return QStringLiteral("the beam did not end");
    const QList<FakeInfrared::Beam> beams = m_infrared.beams();
    const QStringList arguments = {QStringLiteral("--irda"), QStringLiteral("--put"), absolute(sentPath)};
    if (beams.size() != m_beams || !beams.last().fileWasThere || beams.last().arguments != arguments)
        return QStringLiteral("expected beam %1 of %2 with the file there").arg(m_beams).arg(absolute(sentPath));
    return {};
}

QString RandomOps::withdraw()
{
    const int row = m_given.isEmpty() || chance(5) ? -1 : m_random.bounded(int(m_given.size()));
    m_window->givenList->setCurrentRow(row);
    const auto click = [this] { m_window->removeGivenKeyButton->click(); };
    if (row < 0) {
        m_trail.append(QStringLiteral("withdraw nothing"));
        return showsMessages(click, {Message::selectItem});
    }
    const QString keyPath = relative(m_given.at(row));
    const QString returnPath = KeyStore::fileNameOf(keyPath);
    m_trail.append(QStringLiteral("withdraw %1 (row %2)").arg(keyPath).arg(row));
    if (m_files.contains(keyPath)) {
        if (m_files.contains(returnPath))
            return showsMessages(click, {Message::cannotMove});
        moveFile(keyPath, returnPath);
    }
    m_given.removeAt(row);
    return showsMessages(click, {});
}

QString RandomOps::check()
{
    QListWidget *list = m_window->checkList;
    const int row = list->count() == 0 || chance(5) ? -1 : m_random.bounded(list->count());
    list->setCurrentRow(row);
    const auto click = [this] { m_window->checkButton->click(); };
    if (row < 0) {
        m_trail.append(QStringLiteral("check nothing"));
        return showsMessages(click, {Message::selectItem});
    }
    const QString path = relative(list->item(row)->text());
    m_trail.append(QStringLiteral("check ") + path);

    // The first line that is not an issued key, less any four-character ending, decides.
    const QSet<QString> issued = issuedStems();
    QStringList read;
    QString outcome;
    bool sawKey = false;
    for (const QString &line : m_keyListLines.value(path)) {
        read.append(line);
        const QString key = line.trimmed();
        if (key.isEmpty())
            continue;
        if (key.size() <= 4 || !issued.contains(key.chopped(4))) {
            outcome = QStringLiteral("Invalid Key: %1.").arg(line);
            break;
        }
        sawKey = true;
    }
    if (outcome.isEmpty())
        outcome = sawKey ? Message::prize : Message::noKeys;

    const DebugLines debug;
    if (const QString error = showsMessages(click, {outcome}); !error.isEmpty())
        return error;
    if (debug.lines() != read)
        return QStringLiteral("lines read: [%1]; expected: [%2]")
            .arg(debug.lines().join(QStringLiteral(" | ")), read.join(QStringLiteral(" | ")));
    return {};
}

QString RandomOps::restart()
{
    m_trail.append(QStringLiteral("restart"));
    m_window.reset();
    expectListsOfAStart();
    return showsMessages([this] { m_window = std::make_unique<ZRKServer>(); }, {});
}

void RandomOps::expectListsOfAStart()
{
    m_send = scan(QStringLiteral(".jpg"));
    m_check = scan(QStringLiteral(".list"));
    m_given = givenAtStart();
}

// The moves of issuing a photo or of withdrawing a key, as the window makes them, killed at a random step; the next
// start finishes or undoes them.
QString RandomOps::killMoveAndRestart()
{
    QStringList photos;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        // The window moves only what its lists show.
        const bool hidden = it.key().startsWith(QLatin1String(".hidden/"));
        if (m_photos.contains(it.value()) && !hidden)
            photos.append(it.key());
    }
    if (photos.isEmpty())
        return {};
    const QString photo = pick(photos);
    QStringList places = {photo};
    if (photo.startsWith(QLatin1String(".sentKeys/"))) {
        places.append(KeyStore::fileNameOf(photo));
    } else {
        const int number = m_random.bounded(1000000);
        places.append({folderOf(photo) + keyName(number), QStringLiteral(".sentKeys/") + keyName(number)});
        m_everDrawn.append(number);
    }
    const int step = 1 + m_random.bounded(14);
    m_trail.append(QStringLiteral("killed at step %1 of moving %2").arg(step).arg(places.join(QStringLiteral(" -> "))));
    m_window.reset();
    killedAtStep(step, [this, &places] {
        for (qsizetype i = 1; i < places.size(); ++i) {
            if (!FileMove::move(absolute(places.at(i - 1)), absolute(places.at(i))).moved)
                return;
        }
    });
    const QStringList texts = messageTextsDuring([this] { m_window = std::make_unique<ZRKServer>(); });
    if (!texts.isEmpty())
        return QStringLiteral("the start showed [%1]").arg(texts.join(QStringLiteral(", ")));
    if (const QString error = photoFoundAfterKill(photo, places); !error.isEmpty())
        return error;
    expectListsOfAStart();
    return {};
}

// Where the photo is once the next start is done, as the model learns it from the folders.
QString RandomOps::photoFoundAfterKill(const QString &photo, const QStringList &places)
{
    const QByteArray bytes = m_files.value(photo);
    QStringList found;
    for (const QString &place : places) {
        if (place == photo || !m_files.contains(place)) {
            if (QFileInfo(absolute(place)).isFile() && readAll(absolute(place)) == bytes)
                found.append(place);
        }
    }
    if (found.size() != 1)
        return QStringLiteral("after the restart the photo is at [%1]").arg(found.join(QStringLiteral(", ")));
    moveFile(photo, found.constFirst());
    return {};
}

QString RandomOps::showsMessages(const std::function<void()> &action, const QStringList &expected)
{
    const QStringList texts = messageTextsDuring(action);
    if (texts == expected)
        return {};
    return QStringLiteral("the window showed [%1], expected [%2]")
        .arg(texts.join(QStringLiteral(", ")), expected.join(QStringLiteral(", ")));
}

// The files whose names contain pattern, outside hidden folders.
QStringList RandomOps::scan(const QString &pattern) const
{
    QStringList paths;
    for (const QString &path : m_files.keys()) {
        const bool hidden = path.startsWith(QLatin1Char('.')) || path.contains(QLatin1String("/."));
        if (KeyStore::fileNameOf(path).contains(pattern) && !hidden)
            paths.append(absolute(path));
    }
    return paths;
}

// The sent-keys folder as a start lists it: larger files first, equal sizes by name.
QStringList RandomOps::givenAtStart() const
{
    QStringList names;
    for (const QString &path : m_files.keys()) {
        if (path.startsWith(QLatin1String(".sentKeys/")))
            names.append(KeyStore::fileNameOf(path));
    }
    const auto size = [this](const QString &name) { return m_files.value(QStringLiteral(".sentKeys/") + name).size(); };
    std::sort(names.begin(), names.end(),
        [&size](const QString &a, const QString &b) { return size(a) != size(b) ? size(a) > size(b) : a < b; });
    QStringList paths;
    for (const QString &name : names)
        paths.append(absolute(QStringLiteral(".sentKeys/") + name));
    return paths;
}

QSet<QString> RandomOps::issuedStems() const
{
    QSet<QString> stems;
    // A key counts only while its photo is in the sent-keys folder.
    for (const QString &path : m_given) {
        if (m_files.contains(relative(path)))
            stems.insert(KeyStore::fileNameOf(path).chopped(4));
    }
    return stems;
}

bool RandomOps::sentKeysHaveRoomFor(const QByteArray &bytes) const
{
    if (m_sentKeysPageLimit == 0)
        return true;
    const auto pages = [](const QByteArray &file) { return int((file.size() + pageSize - 1) / pageSize); };
    int used = 0;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (it.key().startsWith(QLatin1String(".sentKeys/")))
            used += pages(it.value());
    }
    // The move's marker takes a page beside the copy while it runs.
    return used + pages(bytes) + 1 <= m_sentKeysPageLimit;
}

QString RandomOps::compareWithModel() const
{
    QMap<QString, QByteArray> files;
    for (const QString &path : filesBelow(m_store.documents()))
        files.insert(path, readAll(absolute(path)));
    if (files.keys() != m_files.keys())
        return QStringLiteral("files below the document folder: %1; expected: %2")
            .arg(files.keys().join(QStringLiteral(", ")), m_files.keys().join(QStringLiteral(", ")));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.value() != m_files.value(it.key()))
            return QStringLiteral("the content of %1 changed").arg(it.key());
    }
    // Said once more without the model's bookkeeping: each photo's bytes are in the tree exactly once.
    QMap<QByteArray, int> copies;
    for (const QByteArray &bytes : files)
        ++copies[bytes];
    for (const QByteArray &photo : m_photos) {
        if (copies.value(photo) != 1)
            return QStringLiteral("a photo is there %1 times: %2")
                .arg(copies.value(photo))
                .arg(QString::fromLatin1(photo.right(12)));
    }

    const auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };
    if (sorted(textsOf(m_window->sendList)) != sorted(m_send))
        return QStringLiteral("Send list: %1; expected: %2")
            .arg(textsOf(m_window->sendList).join(QStringLiteral(", ")), m_send.join(QStringLiteral(", ")));
    if (sorted(textsOf(m_window->checkList)) != sorted(m_check))
        return QStringLiteral("Check list: %1; expected: %2")
            .arg(textsOf(m_window->checkList).join(QStringLiteral(", ")), m_check.join(QStringLiteral(", ")));
    if (textsOf(m_window->givenList) != m_given)
        return QStringLiteral("Given Keys list: %1; expected: %2")
            .arg(textsOf(m_window->givenList).join(QStringLiteral(", ")), m_given.join(QStringLiteral(", ")));
    return {};
}

QList<quint32> seedsToRun()
{
    const QByteArray chosen = qgetenv("ZRK_RANDOMOPS_SEEDS");
    if (chosen.isEmpty())
        return defaultSeeds;
    QList<quint32> seeds;
    for (const QByteArray &seed : chosen.split(','))
        seeds.append(seed.trimmed().toUInt());
    return seeds;
}

} // namespace

class TestRandomOps : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void keyStoreSurvivesRandomOperations_data();
    void keyStoreSurvivesRandomOperations();
};

void TestRandomOps::init()
{
    failOnUnexpectedWarnings();
}

void TestRandomOps::keyStoreSurvivesRandomOperations_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : seedsToRun())
        QTest::addRow("seed %u%s", seed, sentKeysApartFor(seed) ? ", sent keys on a small file system" : "") << seed;
}

void TestRandomOps::keyStoreSurvivesRandomOperations()
{
    QFETCH(quint32, seed);
    bool stepsChosen = false;
    const int chosenSteps = qEnvironmentVariableIntValue("ZRK_RANDOMOPS_STEPS", &stepsChosen);
    KeyStoreFixture store;
    const ScratchFileSystem cardFileSystem(store.documents() + QLatin1Char('/') + card, 4096);
    ZRK_REQUIRE_MOUNTED(cardFileSystem);
    const bool sentKeysApart = sentKeysApartFor(seed);
    std::unique_ptr<ScratchFileSystem> sentKeysFileSystem;
    if (sentKeysApart) {
        sentKeysFileSystem = std::make_unique<ScratchFileSystem>(store.sentKeys(), sentKeysPages * pageSize / 1024);
        ZRK_REQUIRE_MOUNTED(*sentKeysFileSystem);
    }
    FakeInfrared infrared;

    RandomOps operations(seed, store, infrared, sentKeysApart ? sentKeysPages : 0);
    const int count = stepsChosen ? chosenSteps : defaultSteps;
    for (int step = 1; step <= count; ++step) {
        const QString error = operations.step();
        QVERIFY2(error.isEmpty(),
            qPrintable(QStringLiteral(
                "seed %1, step %2 of %3: %4\nrecent steps:\n%5\nagain: ZRK_RANDOMOPS_SEEDS=%1 ctest -R tst_randomops")
                           .arg(seed)
                           .arg(step)
                           .arg(count)
                           .arg(error, operations.recentSteps())));
    }
}

QTEST_MAIN(TestRandomOps)
#include "tst_randomops.moc"
