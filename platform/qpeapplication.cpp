#include "qpeapplication.h"

QPEApplication::QPEApplication(int &argc, char **argv, Type type) : QApplication(argc, argv), m_type(type)
{
    setQuitOnLastWindowClosed(true);
}

int QPEApplication::exec()
{
    return QApplication::exec();
}
