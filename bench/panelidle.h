#ifndef BENCH_PANELIDLE_H
#define BENCH_PANELIDLE_H

#include <QString>

// The CPU of two panel programs over the same seconds, as the share of one
// core: one on the broker at 127.0.0.1:brokerPort watching `topic` (its
// module online and idle), one polling a stand-in of its own.
struct IdlePanels
{
    double brokerCpu = -1;
    double pollingCpu = -1;
    int polls = 0; // frames the polling panel sent, warm-up included
    QString error; // why there are no figures
};

IdlePanels measureIdlePanels(int brokerPort, const QString &topic, int seconds);

#endif // BENCH_PANELIDLE_H
