#include <QCheckBox>
#include <QtTest>

#include "ptymodule.h"
#include "windowtesting.h"

namespace {
QList<QByteArray> frameBytes(const PtyModule &module)
{
    QList<QByteArray> list;
    for (const auto &frame : module.frames())
        list << frame.bytes;
    return list;
}
} // namespace

// The frames the window sends, as the module stand-in receives them. The
// first test must run first: the poll phase lives as long as the program.
class TestPollCycle : public QObject
{
    Q_OBJECT

private slots:
    void alternatesThenCarriesTickedBoxes()
    {
        PtyModule module;
        auto window = windowOn(module.portName());
        QTRY_VERIFY_WITH_TIMEOUT(module.frames().size() >= 11, 5000);

        const auto frames = module.frames();
        for (int i = 0; i < 10; ++i)
            QCOMPARE(frames[i].bytes, i % 2 == 0 ? QByteArray("~A") : QByteArray("~P00000"));
        // Ten intervals of one tick each; generous bounds against a busy machine.
        const double meanMs = (frames[10].receivedUs - frames[0].receivedUs) / 10000.0;
        QVERIFY2(meanMs > 70 && meanMs < 200, qPrintable(QString::number(meanMs)));

        // Boxes ticked now go out in one of the next two frames.
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_1"))->setChecked(true);
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_5"))->setChecked(true);
        const int before = module.frames().size();
        QTRY_VERIFY(module.frames().size() >= before + 2);
        const auto next = frameBytes(module).mid(before, 2);
        QVERIFY2(next.contains("~P10001"), next.join(' ').constData());
        QCOMPARE(module.outputs(), QStringLiteral("10001"));
    }

    void portChangeTakesEffectNextFrame()
    {
        PtyModule first, second;
        auto window = windowOn(first.portName());
        QTRY_VERIFY(first.frames().size() >= 1);

        // Switch right after a frame reached the first module, well before the
        // next tick.
        const int seen = first.frames().size();
        QTRY_VERIFY(first.frames().size() > seen);
        auto *box = window->findChild<QComboBox *>(QStringLiteral("port_box"));
        box->addItem(second.portName());
        box->setCurrentIndex(1);
        const int atSwitch = first.frames().size();

        QTRY_VERIFY(second.frames().size() >= 1);
        QTest::qWait(250);
        QCOMPARE(first.frames().size(), atSwitch);
        QVERIFY(second.frames().size() >= 2);
    }

    void singleOutputCommands_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QByteArray>("frame");

        QTest::newRow("send_ch3(1)") << QByteArray("send_ch3") << 1 << QByteArray("~S3");
        QTest::newRow("send_ch3(0)") << QByteArray("send_ch3") << 0 << QByteArray("~R3");
        QTest::newRow("send_ch3(7)") << QByteArray("send_ch3") << 7 << QByteArray("~S3");
        QTest::newRow("send_ch3(-1)") << QByteArray("send_ch3") << -1 << QByteArray("~S3");
        QTest::newRow("send_ch1(1)") << QByteArray("send_ch1") << 1 << QByteArray("~S1");
        QTest::newRow("send_ch2(0)") << QByteArray("send_ch2") << 0 << QByteArray("~R2");
        QTest::newRow("send_ch4(1)") << QByteArray("send_ch4") << 1 << QByteArray("~S4");
        QTest::newRow("send_ch5(0)") << QByteArray("send_ch5") << 0 << QByteArray("~R5");
    }

    void singleOutputCommands()
    {
        QFETCH(QByteArray, slot);
        QFETCH(int, argument);
        QFETCH(QByteArray, frame);

        // Sent before the first tick, so no poll frame competes with it.
        PtyModule module;
        auto window = windowOn(module.portName());
        QVERIFY(QMetaObject::invokeMethod(window.get(), slot.constData(), Q_ARG(int, argument)));
        QVERIFY(module.waitForFrames(1, 2000));
        QCOMPARE(module.frames()[0].bytes, frame);
    }

    void slowModuleStillGetsOutputs()
    {
        // Each reply comes in eight pieces 15 ms apart, so one exchange lasts
        // longer than a tick: every tick lands during an exchange.
        PtyModule module;
        module.setResponder([](const QByteArray &) {
            PtyModule::Reply pieces;
            for (const char byte : QByteArray("~A00000 "))
                pieces.append({pieces.isEmpty() ? 0 : 15, QByteArray(1, byte)});
            return pieces;
        });
        auto window = windowOn(module.portName());
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_1"))->setChecked(true);

        QTest::qWait(3000);
        const auto frames = frameBytes(module);
        QVERIFY2(frames.count("~P10000") >= 5, frames.join(' ').constData());
        QCOMPARE(module.outputs(), QStringLiteral("10000"));
    }
};

QTEST_MAIN(TestPollCycle)
#include "tst_pollcycle.moc"
