// iopanelctl serve as scripts and bridges run it, against the module
// stand-in: commands from a pipe, bad lines, the end of the input, a change
// carried by a command's reply, a port that goes away and comes back, and
// an input that never ends.
#include <QTemporaryDir>
#include <QtTest>

#include "processtesting.h"
#include "untrustedtext.h"

namespace {

QProcess *startServe(QObject *parent, const QString &port, int intervalMs)
{
    auto *ctl = new QProcess(parent);
    ctl->start(QStringLiteral(IOPANELCTL),
               {"--port", port, "serve", "--interval", QString::number(intervalMs)});
    return ctl;
}

QString stateLine(const char *inputs)
{
    return QStringLiteral("  %1$").arg(QLatin1String(inputs));
}

// The resident set of process `pid` in kB, from /proc.
qint64 residentKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const auto kb = QRegularExpression(QStringLiteral("VmRSS:\\s*(\\d+)")).match(QString::fromLatin1(text));
    return kb.hasMatch() ? kb.captured(1).toLongLong() : -1;
}

} // namespace

class TestServe : public QObject
{
    Q_OBJECT

private slots:
    // Lines decoded as UTF-8, as from mosquitto_sub, whatever the test's locale.
    void initTestCase() { qputenv("LC_ALL", "C.UTF-8"); }

    // A script's lines, bad ones among them (escape sequences too, quoted as the
    // bridge quotes them), then 50 commands in one write, then a last line
    // without a line break and the end of the input, all while polls run every
    // 20 ms. Every good command reaches the module once, in order; each bad
    // line is named once with its number; serve ends with 0.
    void commandsFromAPipe()
    {
        PtyModule module;
        QProcess *ctl = startServe(this, module.portName(), 20);
        ctl->write("set 3\n  reset 3 \r\n# a comment\n\noutputs 1010\nfrobnicate\noutputs 10100\n");
        QString named = QStringLiteral("iopanelctl: input line 5: outputs takes exactly five digits 0 or 1 "
                                       "(outputs 1 to 5), not '1010'\niopanelctl: input line 6: unknown "
                                       "command 'frobnicate'\n");
        int lineNumber = 7;
        for (const UntrustedText &untrusted : untrustedTexts()) {
            if (!untrusted.validUtf8)
                continue;
            ctl->write("set " + untrusted.text + '\n');
            named += QStringLiteral("iopanelctl: input line %1: set takes an output 1 to 5, not '%2'\n")
                         .arg(++lineNumber)
                         .arg(untrusted.shown);
        }
        QStringList expected{"~S3", "~R3", "~P10100"};
        QByteArray burst;
        for (int k = 0; k < 50; ++k) {
            burst += (k % 2 ? "reset " : "set ") + QByteArray::number(k % 5 + 1) + '\n';
            expected << QString::fromLatin1(k % 2 ? "~R%1" : "~S%1").arg(k % 5 + 1);
        }
        ctl->write(burst);
        ctl->write("set 5");
        expected << QStringLiteral("~S5");
        ctl->closeWriteChannel();

        QVERIFY2(ctl->waitForFinished(20000), "serve went on after its input ended");
        QCOMPARE(ctl->exitCode(), 0);
        QCOMPARE(commandsReceived(module), expected);
        QCOMPARE(QString::fromUtf8(ctl->readAllStandardError()), named);
        QCOMPARE(ctl->readAllStandardOutput().count('\n'), 1); // the first state; nothing changed
    }

    // With no poll due for an hour, a change that the reply to "set 3" reports
    // is printed at once; "inputs" prints the state again, unchanged.
    void changeInAReply()
    {
        PtyModule module;
        module.setAnswersOutputs(true);
        module.setResponder([&module](const QByteArray &frame) {
            if (frame == "~S3")
                module.setInput(8, true);
            return PtyModule::Reply{{0, module.defaultReply(frame)}};
        });
        QProcess *ctl = startServe(this, module.portName(), 3600000);
        ProcessOutput lines(*ctl);
        QVERIFY(!lines.waitForLine(stateLine("6=0 7=0 8=0 9=0 10=0")).isEmpty());
        ctl->write("set 3\n");
        QVERIFY(!lines.waitForLine(stateLine("6=0 7=0 8=1 9=0 10=0"), 1000).isEmpty());
        ctl->write("inputs\n");
        QVERIFY(!lines.waitForLine(stateLine("6=0 7=0 8=1 9=0 10=0"), 1000).isEmpty());
        ctl->closeWriteChannel();
        QVERIFY(ctl->waitForFinished(5000));
        QCOMPARE(ctl->exitCode(), 0);
    }

    // The module's line goes (its link dangles) and comes back on a new
    // pseudo-terminal: one line says the port is gone, a command meanwhile is
    // named and dropped, and once the link is back state and commands flow again.
    void portGoesAndComesBack()
    {
        PtyModule module;
        QTemporaryDir dir;
        // Lock files are named after the path's last component: one of this run's own.
        const QString link = dir.filePath(QFileInfo(dir.path()).fileName());
        QVERIFY(QFile::link(module.portName(), link));
        QProcess *ctl = startServe(this, link, 100);
        ProcessOutput lines(*ctl);
        QVERIFY(!lines.waitForLine(stateLine("6=0 7=0 8=0 9=0 10=0")).isEmpty());

        module.unplug();
        QTest::qWait(500);
        ctl->write("set 2\n");
        QString errors;
        const QString gone = QStringLiteral("can't open %1: No such file or directory").arg(link);
        QTRY_VERIFY((errors += QString::fromLocal8Bit(ctl->readAllStandardError()))
                        .contains(QStringLiteral("set 2")));

        module.replug();
        QVERIFY(QFile::remove(link) && QFile::link(module.portName(), link));
        module.setInput(6, true);
        ctl->write("set 4\n");
        QVERIFY(!lines.waitForLine(stateLine("6=1 7=0 8=0 9=0 10=0")).isEmpty());
        QTRY_COMPARE(commandsReceived(module), QStringList{"~S4"});
        ctl->closeWriteChannel();
        QVERIFY(ctl->waitForFinished(5000));
        QCOMPARE(ctl->exitCode(), 0);
        QCOMPARE(errors + QString::fromLocal8Bit(ctl->readAllStandardError()),
                 QStringLiteral("iopanelctl: %1; watching on\niopanelctl: input line 1: set 2: %1\n"
                                "iopanelctl: %2 answers again\n")
                     .arg(gone, link));
    }

    // Commands far faster than a module that leaves them unanswered (50 ms
    // each) takes them, or one line that never ends: polls go on at their
    // interval, memory stays bounded, the writer of the commands is held back
    // (serve reads no more while its queue is full), and SIGTERM ends serve
    // within a second.
    void fedWithoutEnd_data()
    {
        QTest::addColumn<bool>("endlessLine");
        QTest::newRow("commands faster than the module takes them") << false;
        QTest::newRow("one endless line") << true;
    }

    void fedWithoutEnd()
    {
        QFETCH(bool, endlessLine);
        PtyModule module;
        module.setAnswersOutputs(false);
        QProcess writer;
        QProcess serve;
        QProcess *ctl = &serve;
        if (endlessLine)
            writer.setStandardOutputProcess(ctl);
        // AddressSanitizer's quarantine keeps freed memory for a while: small
        // enough here not to hide, or feign, growth.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        if (!asan.isEmpty())
            environment.insert(QStringLiteral("ASAN_OPTIONS"),
                               asan + QStringLiteral(":quarantine_size_mb=4"));
        ctl->setProcessEnvironment(environment);
        ctl->start(QStringLiteral(IOPANELCTL), {"--port", module.portName(), "serve"});
        const QByteArray commands = QByteArray("set 3\n").repeated(700000);
        if (endlessLine)
            writer.start("bash", {"-c", "yes x | tr -d '\\n'"});
        else
            ctl->write(commands);
        QTest::qWait(1000);
        const qint64 residentBefore = residentKb(ctl->processId());
        QVERIFY(residentBefore > 0);
        module.clearFrames();
        QTest::qWait(2000);
        const int polls = module.frames().size() - commandsReceived(module).size();
        QVERIFY2(polls >= 14, qPrintable(QString::number(polls)));
        QVERIFY(endlessLine || commandsReceived(module).size() >= 10);
        // A pipe's 64 KiB, a read and the queue: far less than serve would take in 3 s if it took all.
        QVERIFY2(endlessLine || ctl->bytesToWrite() > commands.size() - 256 * 1024,
                 qPrintable(QString::number(commands.size() - ctl->bytesToWrite())));
        const qint64 grown = residentKb(ctl->processId()) - residentBefore;
        QVERIFY2(grown < 16 * 1024, qPrintable(QString::number(grown)));

        QElapsedTimer sinceTerm;
        sinceTerm.start();
        ctl->terminate();
        QVERIFY(ctl->waitForFinished(5000));
        QVERIFY2(sinceTerm.elapsed() < 1500, qPrintable(QString::number(sinceTerm.elapsed())));
        QCOMPARE(ctl->exitCode(), 0);
        if (endlessLine)
            QCOMPARE(ctl->readAllStandardError(),
                     QByteArray("iopanelctl: input line 1: longer than 1024 bytes, skipped\n"));
        stop(writer);
    }
};

QTEST_MAIN(TestServe)
#include "tst_serve.moc"
