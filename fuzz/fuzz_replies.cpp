// libFuzzer target: arbitrary bytes, cut into replies, go through the panel's
// reply decoder (MainWindow::ser_read) on one real window.
//
// Input layout: the first byte is the separator; the rest is cut at every
// separator byte into replies, passed to ser_read in order (empty pieces
// too). "|~G6|1" is the two replies "~G6" and "1".
#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QDialog>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QTimer>

#include <cstddef>
#include <cstdint>

#include "windowtesting.h"

namespace {

MainWindow *window = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The decoder prints every reply with qDebug().
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));

    // Qt keeps argc by reference and may edit argv: give it its own.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    auto *app = new QApplication(qtArgc, qtArgv);

    window = new MainWindow;
    // Never poll a real port: the list is emptied before any event loop runs
    // (the poll timer only fires inside an About box's own event loop, and
    // then polls no port at all).
    window->findChild<QComboBox *>(QStringLiteral("port_box"))->clear();

    // A firmware report opens a modal "About" box; close it from inside its
    // own event loop, the only event loop that ever runs here.
    auto *closer = new QTimer(app);
    closer->setInterval(0);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->done(QMessageBox::Ok);
    });
    closer->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    resetDecoder(*window);
    const char separator = static_cast<char>(data[0]);
    const char *begin = reinterpret_cast<const char *>(data) + 1;
    const char *const end = reinterpret_cast<const char *>(data) + size;
    for (;;) {
        const char *piece = begin;
        while (piece != end && *piece != separator)
            ++piece;
        // Raw data: an over-read past the last reply leaves the fuzzer's buffer.
        window->ser_read(QByteArray::fromRawData(begin, static_cast<int>(piece - begin)));
        if (piece == end)
            break;
        begin = piece + 1;
    }
    return 0;
}
