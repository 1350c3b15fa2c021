// Tests of the module logic that the simulator and the tests' stand-in share;
// the stand-in's pty serving is exercised by every panel test.
#include "modulelogic.h"
#include "ptymodule.h"

#include <QSerialPort>
#include <QtTest>

class TestIoModule : public QObject
{
    Q_OBJECT

private slots:
    void logicFeed_data()
    {
        QTest::addColumn<QByteArrayList>("chunks");
        QTest::addColumn<QByteArrayList>("pieces");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QByteArray>("replies");
        QTest::addColumn<QString>("outputs");

        const QByteArray firmware = QByteArray("~IIOM-1.0") + QByteArray(9, '\0');
        QTest::newRow("inputs") << QByteArrayList{"~A"} << QByteArrayList{"~A"} << 1 << QByteArray("~A10010")
                                << "00000";
        QTest::newRow("firmware") << QByteArrayList{"~I"} << QByteArrayList{"~I"} << 1 << firmware << "00000";
        QTest::newRow("set all") << QByteArrayList{"~P10011"} << QByteArrayList{"~P10011"} << 1
                                 << QByteArray() << "10011";
        QTest::newRow("set, reset") << QByteArrayList{"~S2", "~S5", "~R2"}
                                    << QByteArrayList{"~S2", "~S5", "~R2"} << 3 << QByteArray() << "00001";
        QTest::newRow("split") << QByteArrayList{"~", "P1", "1", "000~", "A"}
                               << QByteArrayList{"~P11000", "~A"} << 2 << QByteArray("~A10010") << "11000";
        QTest::newRow("glued") << QByteArrayList{"~A~P00100~I"} << QByteArrayList{"~A", "~P00100", "~I"} << 3
                               << QByteArray("~A10010" + firmware) << "00100";
        QTest::newRow("garbage") << QByteArrayList{"xx~A\r\n~Q~S9~S3"}
                                 << QByteArrayList{"xx", "~A", "\r\n", "~Q", "~S9", "~S3"} << 2
                                 << QByteArray("~A10010") << "00100";
        QTest::newRow("broken frame")
            << QByteArrayList{"~P01", "2~~P10000"} << QByteArrayList{"~P012", "~", "~P10000"} << 1
            << QByteArray() << "10000";
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

    // The serving thread stamps a delayed reply into its frame list while the
    // test holds (and modifies) a copy of that list taken before; under
    // ThreadSanitizer a copy that shared nodes with the module's list races.
    void framesCopyIsIndependent()
    {
        PtyModule module;
        module.setResponder([](const QByteArray &) { return PtyModule::Reply{{50, "~A00000"}}; });
        QSerialPort port(module.portName());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(port.write("~A") == 2 && port.waitForBytesWritten(1000));
        QVERIFY(module.waitForFrames(1, 1000));
        QList<PtyModule::Frame> before = module.frames();
        before[0].repliedUs = -2; // a write to the copy only
        QTRY_VERIFY(port.waitForReadyRead(20) || port.bytesAvailable() >= 7);
        QCOMPARE(port.readAll(), QByteArray("~A00000"));
        QTRY_VERIFY(module.frames().at(0).repliedUs >= 0);
        QCOMPARE(before.at(0).repliedUs, qint64(-2));
    }
};

QTEST_GUILESS_MAIN(TestIoModule)
#include "tst_iomodule.moc"
