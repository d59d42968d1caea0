#include "qpeapplication.h"
#include "zrkserver.h"

#include <QIcon>

int main(int argc, char **argv)
{
    QPEApplication app(argc, argv, QPEApplication::GuiClient);
    // The launcher's icon and entry, so that task bars show and group the window like the launcher does.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zrk-server.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("zrk-server"));
    ZRKServer window;
    window.showMaximized();
    return app.exec();
}
