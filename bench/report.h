#ifndef BENCH_REPORT_H
#define BENCH_REPORT_H

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Collects the results: rows for the table, a JSON section per measurement,
// and errors (a missed target is not an error).
class Report
{
public:
    enum Verdict { Info, Met, Missed };

    void addRow(const QString &measure, const QString &result, const QString &target = {},
                Verdict verdict = Info);
    void addRow(const QString &measure, const QString &result, const QString &target, bool met)
    {
        addRow(measure, result, target, met ? Met : Missed);
    }
    void setSection(const QString &key, const QJsonObject &section);
    void addError(const QString &message);

    bool hasErrors() const { return !errors.isEmpty(); }
    QString table() const;
    QJsonObject json(const QJsonObject &header) const;

    static QString ms(double value) { return QString::number(value, 'f', 2) + QStringLiteral(" ms"); }

private:
    struct Row
    {
        QString measure, result, target;
        Verdict verdict;
    };
    QList<Row> rows;
    QJsonObject sections;
    QStringList errors;
};

#endif // BENCH_REPORT_H
