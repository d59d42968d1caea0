#include "qpeapplication.h"
#include "zrkserver.h"

int main(int argc, char **argv)
{
    QPEApplication app(argc, argv, QPEApplication::GuiClient);
    ZRKServer window;
    window.showMaximized();
    return app.exec();
}
