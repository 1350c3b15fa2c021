#!/usr/bin/env python3
"""Sixteen modules on one machine, by hand (not in CI): sixteen iomodule-sims,
sixteen iopanel-mqtt bridges polling every 100 ms, one mosquitto of its own
on a free port of 127.0.0.1 and one subscriber on '#', and the floor poller
on a seventeenth simulator. Prints, each beside its target where it has one:
the bridges' total CPU (time on a CPU), a bridge's beside the floor's, and
the sum of their RSS;
the p99 from an input switched at a random simulator to its message at the
subscriber, for every module; the time from a broker restart until all
sixteen are online again with their inputs published.

    IOPANEL_BUILD_DIR=build tools/bench-sixteen.py [SECONDS]

HOME and XDG_CONFIG_HOME point at a temporary directory."""
import os, random, re, socket, subprocess, sys, tempfile, threading, time

BUILD = os.environ.get('IOPANEL_BUILD_DIR', 'build')
MODULES, INTERVAL_MS = 16, 100
SECONDS = int(sys.argv[1]) if len(sys.argv) > 1 else 30
home = tempfile.mkdtemp(prefix='bench-sixteen.')
os.environ.update(HOME=home, XDG_CONFIG_HOME=home + '/.config')
children = []


def start(args, **kw):
    child = subprocess.Popen(args, **kw)
    children.append(child)
    return child


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def on_cpu_seconds(pid):  # schedstat's first field, over every thread
    tasks = '/proc/%d/task' % pid
    return sum(int(open('%s/%s/schedstat' % (tasks, t)).read().split()[0]) for t in os.listdir(tasks)) / 1e9


def rss_kb(pid):
    return int(re.search(r'VmRSS:\s*(\d+)', open('/proc/%d/status' % pid).read()).group(1))


def p99(values):
    values = sorted(values)
    return values[int(round(0.99 * (len(values) - 1)))] if values else float('nan')


port = free_port()
broker = lambda: start(['mosquitto', '-p', str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
messages, lock = [], threading.Lock()


def subscribe():
    sub = start(['mosquitto_sub', '-p', str(port), '-v', '-t', '#'], stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, text=True, bufsize=1)

    def read():
        for line in sub.stdout:
            with lock:
                messages.append((time.monotonic(), line.rstrip('\n')))
    threading.Thread(target=read, daemon=True).start()
    return sub


try:
    sims, ptys = [], []
    for _ in range(MODULES + 1):  # the last for the floor poller
        sim = start([BUILD + '/simulator/iomodule-sim/iomodule-sim'], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                    text=True, bufsize=1)
        announced = None
        while not announced:
            announced = re.search(r'/dev/pts/\d+', sim.stdout.readline())
        ptys.append(announced.group(0))
        sims.append(sim)
        threading.Thread(target=lambda out=sim.stdout: [None for _ in out], daemon=True).start()
    mosquitto = broker()
    time.sleep(0.5)
    bridges = [start([BUILD + '/iopanel-mqtt/iopanel-mqtt', '--port', ptys[i], '--broker', '127.0.0.1:%d' % port,
                      '--topic', 'sixteen/%d' % i, '--interval', str(INTERVAL_MS)], stderr=subprocess.DEVNULL)
               for i in range(MODULES)]
    floor = start([BUILD + '/bench/iopanel-floor-poller', ptys[MODULES], str(SECONDS + 10), str(INTERVAL_MS)],
                  stdout=subprocess.DEVNULL)
    sub = subscribe()
    time.sleep(3)

    cpu_start = sum(on_cpu_seconds(b.pid) for b in bridges)
    floor_start = on_cpu_seconds(floor.pid)
    latency = [[] for _ in range(MODULES)]
    state = [False] * MODULES
    end = time.monotonic() + SECONDS
    while time.monotonic() < end:  # changes spread over the poll cycle
        i = random.randrange(MODULES)
        state[i] = not state[i]
        topic, wanted = 'sixteen/%d/inputs {' % i, '"6":%s' % ('true' if state[i] else 'false')
        with lock:
            seen = len(messages)
        switched = time.monotonic()
        sims[i].stdin.write('6 %s\n' % ('on' if state[i] else 'off'))
        sims[i].stdin.flush()
        while time.monotonic() - switched < 2:
            with lock:
                arrived = [t for t, m in messages[seen:] if m.startswith(topic) and wanted in m]
            if arrived:
                latency[i].append((arrived[0] - switched) * 1000)
                break
            time.sleep(0.001)
        time.sleep(random.uniform(0.05, 0.15))
    cpu = sum(on_cpu_seconds(b.pid) for b in bridges) - cpu_start
    floor_cpu = on_cpu_seconds(floor.pid) - floor_start
    ratio = cpu / MODULES / floor_cpu
    print('bridges CPU, all %d: %.3f s in %d s = %.2f %% of one core (%.3f %% each)'
          % (MODULES, cpu, SECONDS, 100 * cpu / SECONDS, 100 * cpu / SECONDS / MODULES))
    print('floor poller CPU, one module: %.3f %%; a bridge / floor: %.2f   target <= 2.5: %s'
          % (100 * floor_cpu / SECONDS, ratio, 'yes' if ratio <= 2.5 else 'NO'))
    print('bridges RSS, sum: %.1f MB' % (sum(rss_kb(b.pid) for b in bridges) / 1024))
    worst = max(p99(v) for v in latency)
    print('input to subscriber p99, worst module: %.1f ms (%d changes)   target <= %d ms: %s'
          % (worst, sum(map(len, latency)), INTERVAL_MS + 60, 'yes' if worst <= INTERVAL_MS + 60 else 'NO'))

    mosquitto.terminate()
    mosquitto.wait()
    sub.terminate()
    time.sleep(0.2)
    restarted = time.monotonic()
    mosquitto = broker()
    with lock:
        messages.clear()
    sub = subscribe()
    time.sleep(0.1)
    while sub.poll() is not None:  # refused: the broker does not listen yet
        sub = subscribe()
        time.sleep(0.1)
    online, inputs = {}, {}
    while time.monotonic() - restarted < 30 and (len(online) < MODULES or len(inputs) < MODULES):
        with lock:
            for t, m in messages:
                got = re.match(r'sixteen/(\d+)/(status online|inputs )', m)
                if got:
                    (online if got.group(2)[0] == 's' else inputs).setdefault(got.group(1), t - restarted)
        time.sleep(0.01)
    back = max(list(online.values()) + list(inputs.values())) if len(online) == len(inputs) == MODULES else float('inf')
    print('broker restart to all online, inputs published: %.2f s (first online %.2f s)   target <= 10 s: %s'
          % (back, min(online.values() or [float('nan')]), 'yes' if back <= 10 else 'NO'))
finally:
    for child in children:
        child.terminate()
    for child in children:
        try:
            child.wait(5)
        except subprocess.TimeoutExpired:
            child.kill()
