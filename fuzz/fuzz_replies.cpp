// libFuzzer target: arbitrary bytes, cut into replies, go through the panel's
// reply decoder (MainWindow::ser_read) on one real window.
//
// Input layout: the first byte is the separator; the rest is cut at every
// separator byte into replies, passed to ser_read in order (empty pieces
// too). "|~G6|1" is the two replies "~G6" and "1". When a reply opens the
// "About" box, the next reply arrives while the box is open, as replies do
// in the panel; then the box is closed.
#include <QApplication>
#include <QByteArray>
#include <QComboBox>
#include <QMessageBox>
#include <QTimer>

#include <cstddef>
#include <cstdint>

#include "windowtesting.h"

namespace {

MainWindow *window = nullptr;

// The replies of the current input not fed yet: from `next` to `end`, cut at
// `separator`; `more` is false once the last one went.
const char *next = nullptr;
const char *end = nullptr;
char separator = 0;
bool more = false;

// Feeds the next reply to the decoder; false when none is left. The position
// moves on before the call, so a call from inside an About box's event loop
// goes on with the right reply.
bool feedNextReply()
{
    if (!more)
        return false;
    const char *const begin = next;
    const char *piece = begin;
    while (piece != end && *piece != separator)
        ++piece;
    more = piece != end;
    next = more ? piece + 1 : end;
    // Raw data: an over-read past the last reply leaves the fuzzer's buffer.
    window->ser_read(QByteArray::fromRawData(begin, static_cast<int>(piece - begin)));
    return true;
}

QtMessageHandler terminalHandler = nullptr;

// The decoder logs every reply with qDebug(): the line is still formatted,
// then dropped here instead of being written out. So is the offscreen
// platform's warning on every box shown. Anything else goes to the terminal.
void dropNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    terminalHandler(type, context, message);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    terminalHandler = qInstallMessageHandler(dropNoise);

    // Qt keeps argc by reference and may edit argv: give it its own.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    auto *app = new QApplication(qtArgc, qtArgv);

    window = new MainWindow;
    // Never poll a real port: the list is emptied before any event loop runs
    // (the poll timer only fires inside an About box's own event loop, and
    // then polls no port at all).
    window->findChild<QComboBox *>(QStringLiteral("port_box"))->clear();

    // The About box's event loop is the only one that ever runs here. On its
    // first pass this 0 ms timer feeds the box the next reply, which may be
    // another firmware report for the open box, and closes the box. A second
    // box opened inside the first one would never close: a hang, which
    // libFuzzer reports.
    auto *closer = new QTimer(app);
    closer->setInterval(0);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            feedNextReply();
            box->done(QMessageBox::Ok);
        }
    });
    closer->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    resetDecoder(*window);
    separator = static_cast<char>(data[0]);
    next = reinterpret_cast<const char *>(data) + 1;
    end = reinterpret_cast<const char *>(data) + size;
    more = true;
    while (feedNextReply()) { }
    return 0;
}
