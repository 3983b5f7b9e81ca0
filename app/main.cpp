#include "Application.h"

#include <QMainWindow>

int main(int argc, char **argv)
{
    Application app(argc, argv);
    Application::setApplicationDisplayName(QStringLiteral("Квиллон"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Квиллон"));
    window.resize(586, 402);
    window.show();
    return app.exec();
}
