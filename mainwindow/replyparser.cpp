#include "mainwindow.h"

#include <QDebug>

#include "firmwarebox.h"
#include "replydecoder.h"

namespace {
// Where the walk through the module's frames stands; kept across replies and
// for the whole run, so that a frame may continue in the next reply.
ReplyDecoder decoder;
} // namespace

void MainWindow::ser_read(const QByteArray &s)
{
    qDebug() << s;

    // Input reports go to the lamps; a firmware report opens the "About" box,
    // whose event loop may bring further replies through this slot.
    struct Lamps : ReplyHandler
    {
        MainWindow *window;
        explicit Lamps(MainWindow *window)
            : window(window)
        { }
        void inputReported(int channel, bool on) override { window->setIndicator(channel, on); }
        void firmwareReported(const QString &version) override { showFirmwareVersion(version); }
    } lamps(this);
    decoder.decode(s, lamps);
}
