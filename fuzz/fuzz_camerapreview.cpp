// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "camerapreview.h"
#include "jpegheaders.h"
#include "thumbnail.h"

#include <QBuffer>
#include <QByteArray>
#include <QCoreApplication>
#include <QImage>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Any bytes at all, read as a photo's headers, EXIF block and preview. Besides crashes and sanitizer findings, a
// failure is a thumbnail that is not exactly the thumbnail's size: the reader gives a whole thumbnail or nothing.

namespace {

// The JPEG decoder's complaints about broken previews would drown the fuzzer's own output.
void discardMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The image format plugins are found through the application object.
    static QCoreApplication application(*argc, *argv);
    qInstallMessageHandler(discardMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QBuffer photo;
    photo.setData(reinterpret_cast<const char *>(data), qsizetype(size));
    photo.open(QIODevice::ReadOnly);
    const QImage thumbnail = CameraPreview::thumbnail(JpegHeaders::read(&photo), Thumbnail::size());
    if (!thumbnail.isNull() && thumbnail.size() != Thumbnail::size())
        abort();
    return 0;
}
