// The panel in a process of its own (--panel-child PORT), built like the
// program's main() but with the port list pointed at the stand-in before the
// event loop runs. It prints "ready" once the loop runs, closes the window
// when a "close" line (or end of input) arrives on stdin, and prints
// "closed <µs>": the time from the close request to the end of main.
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cstdio>

#include "mainwindow.h"
#include "measurements.h"
#include "panel.h"
#include "ptymodule.h"

int runPanelChild(int argc, char **argv, const QString &port)
{
    qint64 closeRequestedUs = -1;
    {
        QApplication app(argc, argv);
        MainWindow window;
        pointAt(window, port);
        window.show();

        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, &window, [&] {
            char buffer[64];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0 && !QByteArray(buffer, int(n)).contains("close"))
                return;
            input.setEnabled(false);
            closeRequestedUs = PtyModule::nowUs();
            window.close(); // the last window: the application quits
        });
        QTimer::singleShot(0, [] {
            std::puts("ready");
            std::fflush(stdout);
        });
        app.exec();
    }
    const qint64 endUs = PtyModule::nowUs();
    std::printf("closed %lld\n",
                static_cast<long long>(closeRequestedUs < 0 ? -1 : endUs - closeRequestedUs));
    std::fflush(stdout);
    return 0;
}
