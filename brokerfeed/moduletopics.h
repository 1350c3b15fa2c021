#ifndef MODULETOPICS_H
#define MODULETOPICS_H

#include <QString>
#include <QStringList>

// The modules a panel on the broker watches, from its --topic: one module's
// base (bench/module1), or a base with one '+' level (bench/+) for every
// module there. A module is named by its base; its bridge publishes
// BASE/status, BASE/inputs and BASE/outputs and takes commands on BASE/set.
class ModuleTopics
{
public:
    explicit ModuleTopics(const QString &base);

    // Why `base` can't be watched, quoting it, or an empty string.
    static QString problem(const QString &base);

    bool isPattern() const { return levels.contains(QStringLiteral("+")); }
    QString base() const { return levels.join(QLatin1Char('/')); }
    // The three state topics of every module watched.
    QStringList subscriptions() const;
    // The module a message's topic belongs to, with the topic's last level
    // in `leaf`; empty when the topic is none of a watched module's.
    QString moduleOf(const QString &topic, QString *leaf) const;

private:
    QStringList levels;
};

#endif // MODULETOPICS_H
