#pragma once

#include <QApplication>

// The handheld's application object. On a desktop it is a plain QApplication: the event loop ends when the last
// window is closed.
class QPEApplication : public QApplication
{
    Q_OBJECT
public:
    enum Type { Tty = 0, GuiClient = 1, GuiServer = 2 };

    QPEApplication(int &argc, char **argv, Type type);

    Type type() const { return m_type; }

    static int exec();

private:
    Type m_type;
};
