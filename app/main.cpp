#include <QApplication>

#include <cstdio>

#include "commandline.h"
#include "displaycheck.h"
#include "highdpi.h"
#include "mainwindow.h"
#include "quitonsignals.h"

int main(int argc, char *argv[])
{
    const CommandLine commandLine = parseCommandLine(argc, argv);
    if (commandLine.exit)
        return commandLine.exitCode;

    // Without a display the toolkit aborts with a terse message; say plainly
    // what is missing instead.
    const QString noDisplay = missingDisplayMessage(argc, argv);
    if (!noDisplay.isEmpty()) {
        std::fputs(noDisplay.toLocal8Bit().constData(), stderr);
        return 1;
    }

    followDesktopScale();
    QApplication app(argc, argv);
    // Lets a Wayland desktop match the window to its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.iopanel.iopanel"));
    // Ctrl-C or a kill ends the event loop like closing the window does, so
    // the worker stops and the port's lock file goes with it.
    QuitOnSignals quitOnSignals;
    MainWindow window;
    // Before the first poll, 100 ms away: the first command goes to the
    // first --port path.
    if (!commandLine.ports.isEmpty())
        window.setExtraPorts(commandLine.ports);
    window.show();
    return app.exec();
}
