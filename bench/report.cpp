#include "report.h"

#include <QJsonArray>
#include <QVector>

void Report::addRow(const QString &measure, const QString &result, const QString &target, Verdict verdict)
{
    rows.append({measure, result, target, verdict});
}

void Report::setSection(const QString &key, const QJsonObject &section)
{
    sections.insert(key, section);
}

void Report::addError(const QString &message)
{
    errors.append(message);
}

// A plain-text table with one row per figure; the last column says whether
// the figure met its target (empty for figures without one).
QString Report::table() const
{
    const QStringList header{QStringLiteral("measure"), QStringLiteral("result"), QStringLiteral("target"),
                             QStringLiteral("met")};
    QList<QStringList> cells{header};
    for (const Row &row : rows) {
        const QString met = row.verdict == Met ? QStringLiteral("yes")
            : row.verdict == Missed            ? QStringLiteral("NO")
                                               : QString();
        cells.append({row.measure, row.result, row.target, met});
    }

    QVector<int> widths(header.size(), 0);
    for (const QStringList &line : cells)
        for (int i = 0; i < line.size(); ++i)
            widths[i] = qMax(widths[i], int(line[i].size()));

    QString text;
    for (int n = 0; n < cells.size(); ++n) {
        QStringList padded;
        for (int i = 0; i < cells[n].size(); ++i)
            padded << cells[n][i].leftJustified(widths[i]);
        text += padded.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
        if (n == 0) {
            QStringList rules;
            for (int w : widths)
                rules << QString(w, QLatin1Char('-'));
            text += rules.join(QStringLiteral("  ")) + QLatin1Char('\n');
        }
    }
    for (const QString &e : errors)
        text += QStringLiteral("ERROR: ") + e + QLatin1Char('\n');
    return text;
}

QJsonObject Report::json(const QJsonObject &header) const
{
    QJsonObject all = header;
    for (auto it = sections.begin(); it != sections.end(); ++it)
        all.insert(it.key(), it.value());
    all.insert(QStringLiteral("errors"), QJsonArray::fromStringList(errors));
    return all;
}
