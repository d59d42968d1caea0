// SPDX-FileCopyrightText: 2026 The ZRK Server developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "jpegheaders.h"

#include <QIODevice>

namespace {

constexpr uchar baselineFrameMarker = 0xC0;
constexpr uchar extendedSequentialFrameMarker = 0xC1;
constexpr uchar app1Marker = 0xE1;
constexpr uchar startOfScanMarker = 0xDA;
constexpr uchar endOfImageMarker = 0xD9;
// Real photos have a dozen segments ahead of the frame; a file with endless empty ones is not walked to its end.
constexpr int maxSegments = 256;

bool isFrameMarker(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers without a length: the restart markers and TEM.
bool standsAlone(uchar marker)
{
    return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01;
}

int bigEndian16(const QByteArray &bytes, qsizetype at)
{
    return uchar(bytes.at(at)) << 8 | uchar(bytes.at(at + 1));
}

} // namespace

JpegHeaders JpegHeaders::read(QIODevice *photo)
{
    JpegHeaders headers;
    if (photo->read(2) != QByteArrayLiteral("\xFF\xD8"))
        return {};
    for (int segment = 0; segment < maxSegments; ++segment) {
        char byte = 0;
        if (!photo->getChar(&byte) || uchar(byte) != 0xFF)
            return {};
        // Any number of fill bytes may stand before a marker.
        while (uchar(byte) == 0xFF) {
            if (!photo->getChar(&byte))
                return {};
        }
        const uchar marker = uchar(byte);
        if (standsAlone(marker))
            continue;
        if (marker == startOfScanMarker || marker == endOfImageMarker)
            return {};
        const QByteArray lengthBytes = photo->read(2);
        if (lengthBytes.size() != 2 || bigEndian16(lengthBytes, 0) < 2)
            return {};
        const int payloadLength = bigEndian16(lengthBytes, 0) - 2;
        if (isFrameMarker(marker)) {
            const QByteArray frame = photo->read(payloadLength);
            if (frame.size() < 5)
                return {};
            headers.size = QSize(bigEndian16(frame, 3), bigEndian16(frame, 1));
            headers.sequential = marker == baselineFrameMarker || marker == extendedSequentialFrameMarker;
            return headers;
        }
        if (marker == app1Marker && headers.exif.isEmpty()) {
            const QByteArray payload = photo->read(payloadLength);
            if (payload.size() != payloadLength)
                return {};
            if (payload.startsWith(QByteArrayLiteral("Exif\0\0")))
                headers.exif = payload;
        } else if (photo->skip(payloadLength) != payloadLength) {
            return {};
        }
    }
    return {};
}
