// The simulator's chaos mode: a soak failure is only worth reporting if its
// seed brings the same events back, and split replies only test partial
// frames if their pieces come more than the panel's 20 ms of silence apart.
#include "chaosplan.h"

#include <QtTest>

#include <set>

namespace {

QStringList events(quint32 seed, int count)
{
    ChaosPlan plan(seed);
    QStringList described;
    for (int i = 0; i < count; ++i)
        described << ChaosPlan::describe(plan.next());
    return described;
}

} // namespace

class TestChaosPlan : public QObject
{
    Q_OBJECT

private slots:
    void sameSeedSameEvents()
    {
        QCOMPARE(events(42, 500), events(42, 500));
        QVERIFY(events(42, 500) != events(43, 500));
    }

    void everyKindComesAndSplitsReachTheNextExchange()
    {
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
};

QTEST_GUILESS_MAIN(TestChaosPlan)
#include "tst_chaosplan.moc"
