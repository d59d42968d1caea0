// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// A key store as it looks after a morning at the stand: new photos, two received key lists and a few issued keys.
// Everything is drawn from fixed seeds, so the pictures made from it come out the same every time.
class DemoKeyStore
{
public:
    // Fills documentFolder, making it and its sub-folders; false when a file cannot be written.
    static bool fill(const QString &documentFolder);

private:
    static QImage photo(int seed);
    static bool write(const QString &path, const QByteArray &bytes);
    static bool writePhoto(const QString &path, int seed);
};
