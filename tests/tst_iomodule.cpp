// The simulated module: the logic it shares with the stand-in, end to end, its chaos plan.
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <set>

#include "chaosplan.h"
#include "modulelogic.h"
#include "processtesting.h"

namespace {
QStringList chaosEvents(quint32 seed, int count)
{
    ChaosPlan plan(seed);
    QStringList described;
    for (int i = 0; i < count; ++i)
        described << ChaosPlan::describe(plan.next());
    return described;
}
} // namespace

class TestIomodule : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        port.close();
        stop(sim);
    }

    void logicFeed_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QString>("outputs");

        const QByteArray firmware = QByteArray("~IIOM-1.0") + QByteArray(9, '\0');
        const auto row = [](const char *name, const QByteArrayList &chunks, const QByteArrayList &pieces,
                            int frames, const QByteArray &replies, const char *outputs) {
            QTest::newRow(name) << chunks << pieces << frames << replies << QString::fromLatin1(outputs);
        };
        row("inputs", {"~A"}, {"~A"}, 1, "~A10010", "00000");
        row("firmware", {"~I"}, {"~I"}, 1, firmware, "00000");
        row("set all", {"~P10011"}, {"~P10011"}, 1, {}, "10011");
        row("set, reset", {"~S2", "~S5", "~R2"}, {"~S2", "~S5", "~R2"}, 3, {}, "00001");
        row("split", {"~", "P1", "1", "000~", "A"}, {"~P11000", "~A"}, 2, "~A10010", "11000");
        row("glued", {"~A~P00100~I"}, {"~A", "~P00100", "~I"}, 3, "~A10010" + firmware, "00100");
        row("garbage", {"xx~A\r\n~Q~S9~S3"}, {"xx", "~A", "\r\n", "~Q", "~S9", "~S3"}, 2, "~A10010", "00100");
        row("broken frame", {"~P01", "2~~P10000"}, {"~P012", "~", "~P10000"}, 1, {}, "10000");
    }

    void logicFeed()
    {
        QFETCH(QByteArrayList, chunks);
        QFETCH(QByteArrayList, pieces);
        QFETCH(int, frames);
        QFETCH(QByteArray, replies);
        QFETCH(QString, outputs);

        ModuleLogic logic;
        logic.setInput(6, true);
        logic.setInput(9, true);
        QByteArrayList gotPieces;
        QByteArray gotReplies;
        int gotFrames = 0;
        for (const QByteArray &chunk : chunks) {
            for (const QByteArray &piece : logic.feed(chunk)) {
                gotPieces << piece;
                gotFrames += ModuleLogic::isFrame(piece);
                gotReplies += logic.answer(piece);
            }
        }
        QCOMPARE(gotPieces, pieces);
        QCOMPARE(gotFrames, frames);
        QCOMPARE(gotReplies, replies);
        QCOMPARE(logic.outputsText(), outputs);
    }

    // Under ThreadSanitizer, a copy of the frame list sharing nodes with the stand-in's races.
    void framesCopyIsIndependent()
    {
        PtyModule module;
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{{50, "~A00000"}}; });
        QSerialPort line(module.portName()); // the panel's side
        QVERIFY(line.open(QIODevice::ReadWrite));
        QVERIFY(line.write("~A") == 2 && line.waitForBytesWritten(1000));
        QVERIFY(module.waitForFrames(1, 1000));
        QList<PtyModule::Frame> before = module.frames();
        before[0].repliedUs = -2; // a write to the copy only
        QTRY_VERIFY(line.waitForReadyRead(20) || line.bytesAvailable() >= 7);
        QCOMPARE(line.readAll(), QByteArray("~A00000"));
        QTRY_VERIFY(module.frames().at(0).repliedUs >= 0);
        QCOMPARE(before.at(0).repliedUs, qint64(-2));
    }

    // --silent-outputs is tst_panelprogram's, whose record then holds time-outs.
    void answersFramesAndTakesCommands()
    {
        const QString path = startSimulator(sim, output, {"--inputs", "00100"});
        QVERIFY(!path.isEmpty());
        QVERIFY(!output.waitForLine("iopanel --port " + QRegularExpression::escape(path) + '$').isEmpty());
        port.setPortName(path);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

        QCOMPARE(exchange("~A", 7), QByteArray("~A00100"));
        QVERIFY(!output.waitForLine("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~A  ").isEmpty());

        sim.write("6 on\n");
        QVERIFY(!output.waitForLine("  inputs 6..10: 10100$").isEmpty());
        QCOMPARE(exchange("~A", 7), QByteArray("~A10100"));

        QCOMPARE(exchange("~P10001", 7), QByteArray("~A10100"));
        QVERIFY(!output
                     .waitForLine("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  ~P10001  outputs 1\\.\\.5: 10001  inputs "
                                  "6\\.\\.10: 10100$")
                     .isEmpty());

        QCOMPARE(exchange("~A", 7), QByteArray("~A10100"));

        sim.write("7 maybe\n");
        QVERIFY(!output.waitForLine("^not understood: '7 maybe'").isEmpty());
        sim.write("quit\n");
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    // Started as nohup starts it, a hang-up leaves it running.
    void ignoredHangupStaysIgnored()
    {
        sim.start("/bin/sh", {"-c", "trap '' HUP; exec \"$0\"", IOMODULE_SIM});
        QVERIFY(!output.waitForLine("^Module simulator on ").isEmpty());
        ::kill(pid_t(sim.processId()), SIGHUP);
        QVERIFY(!sim.waitForFinished(300));
        sim.terminate();
        QVERIFY(sim.waitForFinished(5000));
        QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
        QCOMPARE(sim.exitCode(), 0);
    }

    // --link removes only its own link at exit, not a file or link put in its place.
    void linkTouchesOnlyItsOwnFiles()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("module"));
        QFile operators(link + QStringLiteral(".new"));
        QVERIFY(operators.open(QIODevice::WriteOnly) && operators.write("mine") == 4);
        operators.close();
        for (const bool takenOver : {false, true}) {
            output.clear();
            const QString pty = startSimulator(sim, output, {"--link", link}); // the link is made
            QCOMPARE(QFile::symLinkTarget(link), pty);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::System).size(), 2);
            if (takenOver)
                QVERIFY(QFile::remove(link) && QFile::link(QStringLiteral("/dev/null"), link));
            stop(sim);
            QCOMPARE(QFile::symLinkTarget(link), takenOver ? QStringLiteral("/dev/null") : QString());
        }
        QVERIFY(operators.open(QIODevice::ReadOnly));
        QCOMPARE(operators.readAll(), QByteArray("mine"));
    }

    // Seeds repeat; split replies' pieces come more than the panel's 20 ms apart.
    void chaosPlan()
    {
        QCOMPARE(chaosEvents(42, 500), chaosEvents(42, 500));
        QVERIFY(chaosEvents(42, 500) != chaosEvents(43, 500));

        ChaosPlan plan(7);
        std::set<ChaosPlan::Kind> seen;
        for (int i = 0; i < 5000; ++i) {
            const ChaosPlan::Event event = plan.next();
            seen.insert(event.kind);
            if (event.kind == ChaosPlan::Kind::Split) {
                QVERIFY(event.reply.size() >= 2);
                for (int k = 1; k < event.reply.size(); ++k)
                    QVERIFY2(event.reply.at(k).delayMs > 20, qPrintable(ChaosPlan::describe(event)));
            }
            if (event.kind == ChaosPlan::Kind::Flood || event.kind == ChaosPlan::Kind::LineLost) {
                QVERIFY(event.reply.isEmpty());
                QVERIFY(event.durationMs >= 500 && event.durationMs <= 5000);
            }
        }
        QCOMPARE(seen.size(), size_t(8));
    }

private:
    // Writes `frame` to the simulator's pty and reads up to `replySize` bytes back.
    QByteArray exchange(const QByteArray &frame, int replySize)
    {
        if (port.write(frame) != frame.size() || !port.waitForBytesWritten(1000))
            return {};
        QElapsedTimer timer;
        timer.start();
        QByteArray reply;
        while (reply.size() < replySize && !timer.hasExpired(3000)) {
            port.waitForReadyRead(50);
            reply += port.readAll();
        }
        return reply;
    }

    QProcess sim;
    QSerialPort port;
    ProcessOutput output{sim};
};

QTEST_GUILESS_MAIN(TestIomodule)
#include "tst_iomodule.moc"
