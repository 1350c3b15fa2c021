#ifndef BENCH_STATS_H
#define BENCH_STATS_H

#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <vector>

// Order statistics of a sample (nearest-rank percentiles).
struct Stats
{
    int count = 0;
    double min = 0, p1 = 0, p50 = 0, p99 = 0, max = 0;

    static double percentile(const std::vector<double> &sorted, double p)
    {
        if (sorted.empty())
            return 0;
        const auto rank = static_cast<size_t>(std::ceil(p / 100.0 * double(sorted.size())));
        return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
    }

    static Stats of(std::vector<double> values)
    {
        std::sort(values.begin(), values.end());
        Stats s;
        s.count = int(values.size());
        if (values.empty())
            return s;
        s.min = values.front();
        s.p1 = percentile(values, 1);
        s.p50 = percentile(values, 50);
        s.p99 = percentile(values, 99);
        s.max = values.back();
        return s;
    }

    QJsonObject toJson() const
    {
        return {{"count", count}, {"min", min}, {"p1", p1}, {"p50", p50}, {"p99", p99}, {"max", max}};
    }
};

#endif // BENCH_STATS_H
