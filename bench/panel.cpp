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

void silenceDebugOutput()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
}
