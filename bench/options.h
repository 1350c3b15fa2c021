#ifndef BENCH_OPTIONS_H
#define BENCH_OPTIONS_H

// How long each measurement runs: full durations by default, a few seconds
// each with --quick.
struct Options
{
    bool quick = false;
    int exchanges = 200;    // worker exchanges timed one by one
    int pollSeconds = 10;   // window polling, for the period at the module
    int stallSeconds = 10;  // window polling, for the GUI-thread probe
    int cpuSeconds = 30;    // panel process polling, for CPU and memory
    int closeRuns = 10;     // panel processes closed, idle and again during a flood
    int bridgeChanges = 60; // inputs switched, and commands published, through the MQTT bridge
                            // (and again for the panel on the broker)
    int idleSeconds = 10;   // the panel on the broker and the one polling a port, side by side

    static Options quickRun()
    {
        Options o;
        o.quick = true;
        o.exchanges = 50;
        o.pollSeconds = 2;
        o.stallSeconds = 2;
        o.cpuSeconds = 4;
        o.closeRuns = 3;
        o.bridgeChanges = 15;
        o.idleSeconds = 5;
        return o;
    }
};

#endif // BENCH_OPTIONS_H
