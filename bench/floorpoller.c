/* The floor for a program that polls one module: the port held open, "~A"
 * every interval, the reply read until the line is quiet for 20 ms, nothing
 * else. Its CPU time is what a poller cannot go below on this machine; the
 * bench runs it beside the MQTT bridge. Built as iopanel-floor-poller, at
 * -O2 whatever the build type; by hand:
 *
 *   cc -O2 -o floor-poller floorpoller.c
 *   floor-poller PORT SECONDS [INTERVAL_MS]
 *
 * Prints the exchanges answered and its own CPU time (user + system) and
 * share of one core. */
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static long long nowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000LL + t.tv_nsec / 1000000;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s PORT SECONDS [INTERVAL_MS]\n", argv[0]);
        return 2;
    }
    const int interval = argc > 3 ? atoi(argv[3]) : 100;
    const int fd = open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    struct termios line;
    tcgetattr(fd, &line);
    cfmakeraw(&line);
    cfsetspeed(&line, B9600);
    tcsetattr(fd, TCSANOW, &line);
    const long long end = nowMs() + atoll(argv[2]) * 1000LL;
    long long next = nowMs();
    int answered = 0, asked = 0;
    char reply[256];
    while (nowMs() < end) {
        const long long now = nowMs();
        if (now < next)
            usleep((useconds_t)((next - now) * 1000));
        next += interval;
        tcflush(fd, TCIOFLUSH);
        if (write(fd, "~A", 2) != 2)
            break;
        ++asked;
        struct pollfd ready = {fd, POLLIN, 0};
        int wait = 50, got = 0;
        while (poll(&ready, 1, wait) > 0) {
            const ssize_t n = read(fd, reply, sizeof reply);
            if (n <= 0)
                break;
            got += (int)n;
            wait = 20;
        }
        answered += got > 0;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
        + usage.ru_stime.tv_usec / 1e6;
    printf("%d of %d exchanges answered; cpu %.3f s = %.3f %% of one core\n", answered, asked, cpu,
           100.0 * cpu / atof(argv[2]));
    return 0;
}
