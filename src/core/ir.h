#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Infrared beaming of one file. The transfer is an OBEX push over IrDA done by the obexftp tool, which carries the
// file and its name; it takes neither a description nor a MIME type, so those are not sent.
class Ir : public QObject
{
    Q_OBJECT
public:
    Ir(QObject *parent, const char *name);
    // A beam still running when its owner goes is ended with it.
    ~Ir() override;

    // True when obexftp can be found on PATH right now.
    static bool supported();

    // Starts the beam and returns at once; done() follows when the transfer has ended, whatever its outcome.
    void send(const QString &fileName, const QString &description, const QString &mimeType);

Q_SIGNALS:
    void done(Ir *ir);

private:
    void finish();

    QProcess *m_process = nullptr;
};
