// iopanelctl watch holds the module's port, as serve and the bridge do through
// the same loop: opened once with its lock, bytes between exchanges dropped, a
// module that goes and comes back seen at once, a moved link followed.
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

#include "processtesting.h"

namespace {
// The one lock file `pid` holds, with its node and the time it was made.
QString heldLock(qint64 pid)
{
    QStringList locks; // /var/lock is often a link to /run/lock
    for (const QString &lock : lockFilesOf(pid))
        locks << QFileInfo(lock).canonicalFilePath();
    locks.removeDuplicates();
    struct stat made;
    if (locks.size() != 1 || ::stat(QFile::encodeName(locks[0]).constData(), &made) != 0)
        return QStringLiteral("%1 lock files").arg(locks.size());
    return QStringLiteral("%1 %2 %3")
        .arg(locks[0], QString::number(made.st_ino), QString::number(made.st_mtim.tv_nsec));
}

// The resident set of process `pid` in kB.
qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QString text = status.open(QIODevice::ReadOnly) ? QString::fromLatin1(status.readAll()) : QString();
    return QRegularExpression(QStringLiteral("VmRSS:\\s*(\\d+)")).match(text).captured(1).toLongLong();
}

// Points `link` at `target` in one step, so it never dangles.
bool pointLink(const QString &link, const QString &target)
{
    const QString next = link + QStringLiteral(".next");
    return QFile::link(target, next) && std::rename(qPrintable(next), qPrintable(link)) == 0;
}
} // namespace

class TestHeldPort : public QObject
{
    Q_OBJECT

private slots:
    // A hundred polls 20 ms apart: the same lock file, never made anew, all
    // along, and iopanelctl finds the port in use meanwhile.
    void heldAllAlong()
    {
        PtyModule module;
        QProcess ctl;
        ProcessOutput lines(ctl);
        ctl.start(QStringLiteral(IOPANELCTL), {"--port", module.portName(), "watch", "--interval", "20"});
        QVERIFY(!lines.waitForLine(QStringLiteral("6=0 7=0 8=0 9=0 10=0$")).isEmpty());
        const QString lock = heldLock(ctl.processId());
        QVERIFY2(lock.contains("LCK.."), qPrintable(lock));
        const int polls = module.frames().size() + 100;
        while (module.frames().size() < polls) {
            QCOMPARE(heldLock(ctl.processId()), lock);
            QTest::qWait(3);
        }
        QCOMPARE(QProcess::execute(QStringLiteral(IOPANELCTL), {"--port", module.portName(), "inputs"}), 3);
        stop(ctl);
    }

    // A module that sends without end between two polls an hour apart: what
    // the held port takes in meanwhile stays bounded.
    void floodBetweenPolls()
    {
        PtyModule module;
        QProcess ctl;
        ProcessOutput lines(ctl);
        ctl.start(QStringLiteral(IOPANELCTL),
                  {"--port", module.portName(), "watch", "--interval", "3600000"});
        QVERIFY(!lines.waitForLine(QStringLiteral("6=0 7=0 8=0 9=0 10=0$")).isEmpty());
        module.startFlood(QByteArray(4096, 'x'), 0);
        QTest::qWait(2000);
        const qint64 kb = residentKb(ctl.processId());
        QVERIFY2(kb > 0 && kb < 40000, qPrintable(QString::number(kb)));
        stop(ctl);
    }

    // A module that sends stray bytes between exchanges (a report that would spoil
    // the next reply), then the link moved to another, which quits and comes back.
    void followsItsPath()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        PtyModule first, second;
        first.setInput(6, true);
        first.setResponder([&first](const QByteArray &frame) {
            const QByteArray reply = first.defaultReply(frame);
            return PtyModule::Reply{{0, reply}, {100, reply}};
        });
        second.setInput(7, true);
        QVERIFY(pointLink(link, first.portName()));
        const int intervalMs = 250;
        QProcess ctl;
        ProcessOutput lines(ctl);
        ctl.start(QStringLiteral(IOPANELCTL),
                  {"--port", link, "watch", "--interval", QString::number(intervalMs)});
        QVERIFY(!lines.waitForLine(QStringLiteral("  6=1 7=0 8=0 9=0 10=0$")).isEmpty());

        QElapsedTimer clock;
        clock.start();
        QVERIFY(pointLink(link, second.portName()));
        QVERIFY(!lines.waitForLine(QStringLiteral("  6=0 7=1 8=0 9=0 10=0$")).isEmpty());
        QVERIFY2(clock.elapsed() < 1000 + 3 * intervalMs, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(heldLock(ctl.processId()).contains(QFileInfo(second.portName()).fileName()));

        QString errors;
        second.unplug();
        clock.restart();
        QTRY_VERIFY((errors += QString::fromLocal8Bit(ctl.readAllStandardError())).contains("watching on"));
        QVERIFY2(clock.elapsed() < 3 * intervalMs, qPrintable(QString::number(clock.elapsed())));
        second.replug();
        QVERIFY(pointLink(link, second.portName()));
        clock.restart();
        QTRY_VERIFY((errors += QString::fromLocal8Bit(ctl.readAllStandardError())).contains("again"));
        QVERIFY2(clock.elapsed() < 3 * intervalMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(errors,
                 QStringLiteral("iopanelctl: can't open %1: No such file or directory; watching on\n"
                                "iopanelctl: %1 answers again\n")
                     .arg(link));
        stop(ctl);
    }
};

QTEST_MAIN(TestHeldPort)
#include "tst_heldport.moc"
