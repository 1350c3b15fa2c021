#include <QCheckBox>
#include <QtTest>

#include "processtesting.h"
#include "windowtesting.h"

// The window's frames at the stand-in; the first test first (the poll phase lives on).
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
        const double meanMs = (frames[10].receivedUs - frames[0].receivedUs) / 10000.0;
        QVERIFY2(meanMs > 70 && meanMs < 200, qPrintable(QString::number(meanMs)));

        window->findChild<QCheckBox *>(QStringLiteral("checkBox_1"))->setChecked(true);
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_5"))->setChecked(true);
        const int before = commandsReceived(module).size(); // the next "~P" carries them
        QTRY_VERIFY(commandsReceived(module).size() > before);
        QCOMPARE(commandsReceived(module).at(before), QStringLiteral("~P10001"));
        QCOMPARE(module.outputs(), QStringLiteral("10001"));
    }

    void portChangeTakesEffectNextFrame()
    {
        PtyModule first, second;
        auto window = windowOn(first.portName());
        QTRY_VERIFY(first.frames().size() >= 1);

        const int seen = first.frames().size(); // switch right after a frame, before the next tick

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

        PtyModule module; // sent before the first tick: no poll frame competes
        auto window = windowOn(module.portName());
        QVERIFY(QMetaObject::invokeMethod(window.get(), slot.constData(), Q_ARG(int, argument)));
        QVERIFY(module.waitForFrames(1, 2000));
        QCOMPARE(module.frames()[0].bytes, frame);
    }

    void slowModuleStillGetsOutputs()
    {
        PtyModule module; // replies in 8 pieces 15 ms apart: every tick lands in an exchange

        module.setResponder([](const QByteArray &) {
            PtyModule::Reply pieces;
            for (const char byte : QByteArray("~A00000 "))
                pieces.append({pieces.isEmpty() ? 0 : 15, QByteArray(1, byte)});
            return pieces;
        });
        auto window = windowOn(module.portName());
        window->findChild<QCheckBox *>(QStringLiteral("checkBox_1"))->setChecked(true);

        QTest::qWait(3000);
        const QStringList frames = commandsReceived(module);
        QVERIFY2(frames.count("~P10000") >= 5, qPrintable(frames.join(' ')));
        QCOMPARE(module.outputs(), QStringLiteral("10000"));
    }
};

QTEST_MAIN(TestPollCycle)
#include "tst_pollcycle.moc"
