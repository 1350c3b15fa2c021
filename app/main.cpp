#include <QApplication>

#include <cstdio>

#include "displaycheck.h"
#include "mainwindow.h"

int main(int argc, char *argv[])
{
    // Without a display the toolkit aborts with a terse message; say plainly
    // what is missing instead.
    const QString noDisplay = missingDisplayMessage(argc, argv);
    if (!noDisplay.isEmpty()) {
        std::fputs(noDisplay.toLocal8Bit().constData(), stderr);
        return 1;
    }

    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
