#include "panelprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <unistd.h>

#include "procstat.h"
#include "ptymodule.h"

PanelProcess::~PanelProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool PanelProcess::start(const QString &port)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--panel-child"), port});
    if (!process.waitForStarted(5000)) {
        fail(QStringLiteral("panel process did not start: ") + process.errorString());
        return false;
    }
    if (readLine(10000) != QLatin1String("ready")) {
        fail(QStringLiteral("panel process did not get ready"));
        return false;
    }
    return true;
}

bool PanelProcess::startPolling(const PtyModule &module)
{
    if (!start(module.portName()))
        return false;
    if (!module.waitForFrames(3, 5000)) {
        fail(QStringLiteral("the panel does not poll"));
        return false;
    }
    return true;
}

double PanelProcess::close()
{
    process.write("close\n");
    const QString line = readLine(10000);
    static const QRegularExpression closed(QStringLiteral("^closed (\\d+)$"));
    const QRegularExpressionMatch match = closed.match(line);
    if (!match.hasMatch()) {
        fail(QStringLiteral("panel process did not report its close: \"%1\"").arg(line));
        return -1;
    }
    if (!process.waitForFinished(5000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        fail(QStringLiteral("panel process did not exit cleanly"));
        return -1;
    }
    return match.captured(1).toLongLong() / 1000.0;
}

QString PanelProcess::readLine(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!process.canReadLine()) {
        if (deadline.hasExpired() || !process.waitForReadyRead(int(deadline.remainingTime())))
            return {};
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

void PanelProcess::fail(const QString &what)
{
    const QByteArray err = process.readAllStandardError();
    failureText = what;
    if (!err.isEmpty())
        failureText += QStringLiteral("; its stderr ends: ") + QString::fromLocal8Bit(err.right(500));
}

QString PanelProcess::failure() const
{
    return failureText;
}

double PanelProcess::cpuSeconds() const
{
    return ProcStat::cpuSeconds(pid());
}

qint64 PanelProcess::peakRssKb() const
{
    return ProcStat::peakRssKb(pid());
}
