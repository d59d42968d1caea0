// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

class QFile;
class QString;

namespace RegularFile {

// True when path names a regular file itself: not a symbolic link to one, nor a folder, a FIFO or a device.
bool exists(const QString &path);

// Opens path read-only into file, but only when it is a regular file. Whatever sits at a path may have changed since
// the folder was listed, and opening a FIFO or a device could block the window or never end.
bool openForReading(QFile &file, const QString &path);

} // namespace RegularFile
