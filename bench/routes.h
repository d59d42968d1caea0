// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "keylistcheck.h"

#include <QStringList>

#include <memory>

class ZRKServer;

// What a refresh listed, against the files expected.
struct Listing
{
    // The same paths in the same order.
    bool sameEntries = false;
    // Entries with a picture of the thumbnail's size.
    int pictures = 0;
};

// The program's own refresh of the Send list, on a window whose key store is an empty scratch folder.
class ScannerRoute
{
public:
    // KeyStore must already point at an empty scratch document folder: the window scans it when built.
    ScannerRoute();
    ~ScannerRoute();

    // Clears the Send list and scans folder into it, as the refresh button does.
    void refresh(const QString &folder);
    // A new window, which remembers no thumbnails, and no thumbnails kept by the desktop: the next refresh is a cold
    // one.
    void forgetThumbnails();
    Listing listing(const QStringList &files) const;

private:
    std::unique_ptr<ZRKServer> m_window;
};

// Removes the thumbnails the desktop keeps, which the windows wrote.
void forgetDesktopThumbnails();

// Seconds from building the window to its having filled its three lists, as at start-up; false in listed when the
// lists do not hold photoCount new photos and keyCount keys. KeyStore must point at the key store to start on.
double startUpSeconds(int photoCount, int keyCount, bool &listed);

// The thumbnails as the list made them before: each photo loaded into a pixmap in full, then smoothly scaled.
void fullDecodeThumbnails(const QStringList &files);

// One djpeg per file decoding at 1/8 scale, all from one shell; false when the last one fails (djpeg missing).
bool djpegEighthScale(const QStringList &files);

// One vipsthumbnail process making all thumbnails into outputFolder; false when that fails (not installed).
bool vipsThumbnails(const QStringList &files, const QString &outputFolder);

// A key list whose lines are all issued keys, and the paths of those keys' photos, written empty beside it.
struct KeyListFixture
{
    QStringList issuedKeyPaths;
    QString listPath;
};
KeyListFixture writeKeyList(const QString &folder, int keyCount);

// Checks the list the way the window does, from building the issued stems to the verdict; with debugLines, one
// debug line per line read, as the window writes them.
KeyListVerdict checkKeyList(const KeyListFixture &fixture, bool debugLines);
