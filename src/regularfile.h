#pragma once

class QFile;
class QString;

namespace RegularFile {

// Opens path read-only into file, but only when it is a regular file. Whatever sits at a path may have changed since
// the folder was listed, and opening a FIFO or a device could block the window or never end.
bool openForReading(QFile &file, const QString &path);

} // namespace RegularFile
