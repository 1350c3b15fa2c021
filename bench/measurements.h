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
// iopanel-mqtt: latencies, CPU, memory. Returns its command-to-module p99
// in ms, or -1 where it was not measured.
double measureBridge(const Options &options, Report &report);
// The panel on the broker, through the bridge: input to lamp, click to frame
// (its target allows `bridgeCommandP99Ms` for the bridge's turn), idle CPU
// beside the panel polling a port.
void measurePanelBroker(const Options &options, Report &report, double bridgeCommandP99Ms);

// The child side of the panel-process measurements (--panel-child PORT).
int runPanelChild(int argc, char **argv, const QString &port);

#endif // BENCH_MEASUREMENTS_H
