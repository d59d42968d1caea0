#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Infrared beaming of one file. The transfer is an OBEX push over IrDA done by the obexftp tool, which carries the
// file and its name; the description and MIME type are kept for callers that want them.
class Ir : public QObject
{
    Q_OBJECT
public:
    Ir(QObject *parent, const char *name);

    // True when obexftp can be found on PATH right now.
    static bool supported();

    // Starts the beam and returns at once; done() follows when the transfer has ended, whatever its outcome.
    void send(const QString &fileName, const QString &description, const QString &mimeType);

    QString fileName() const { return m_fileName; }
    QString description() const { return m_description; }
    QString mimeType() const { return m_mimeType; }

Q_SIGNALS:
    void done(Ir *ir);

private:
    void finish();

    QProcess *m_process = nullptr;
    QString m_fileName;
    QString m_description;
    QString m_mimeType;
};
