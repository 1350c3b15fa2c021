#ifndef BENCH_MEASUREMENTS_H
#define BENCH_MEASUREMENTS_H

#include <QString>

struct Options;
class Report;

// Each measurement runs against its own module stand-in and adds its rows,
// its JSON section and any errors to the report.
void measureExchange(const Options &options, Report &report);     // worker: reply to GUI thread
void measureReopen(const Options &options, Report &report);       // worker's per-exchange port reopen
void measurePollPeriod(const Options &options, Report &report);   // window: frame spacing at the module
void measureGuiStall(const Options &options, Report &report);     // window: lateness of a probe timer
void measurePanelProcess(const Options &options, Report &report); // panel process: CPU and peak RSS
void measureCloseTime(const Options &options, Report &report);    // panel process: close to end of main
void measureBridge(const Options &options, Report &report);       // iopanel-mqtt: latencies, CPU, memory

// The child side of the panel-process measurements (--panel-child PORT).
int runPanelChild(int argc, char **argv, const QString &port);

#endif // BENCH_MEASUREMENTS_H
