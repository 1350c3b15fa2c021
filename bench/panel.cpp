#include "panel.h"

#include <QComboBox>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTimer>

#include "mainwindow.h"

void pointAt(MainWindow &window, const QString &port)
{
    auto *box = window.findChild<QComboBox *>(QStringLiteral("port_box"));
    box->clear();
    if (!port.isEmpty())
        box->addItem(port);
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

bool runEventsUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        runEventsFor(2);
    }
    return true;
}

void silenceDebugOutput()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}
