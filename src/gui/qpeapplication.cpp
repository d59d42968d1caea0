#include "qpeapplication.h"

QPEApplication::QPEApplication(int &argc, char **argv, Type) : QApplication(argc, argv)
{
    setQuitOnLastWindowClosed(true);
}

int QPEApplication::exec()
{
    return QApplication::exec();
}
