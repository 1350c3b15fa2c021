#include "panel.h"

#include <QComboBox>
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
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(2);
    QTimer::singleShot(timeoutMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void silenceDebugOutput()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}
