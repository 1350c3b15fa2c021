#include "moduletopics.h"

#include "brokersettings.h"

namespace {
const QStringList stateLeaves{QStringLiteral("status"), QStringLiteral("inputs"), QStringLiteral("outputs")};
} // namespace

ModuleTopics::ModuleTopics(const QString &base)
    : levels(base.split(QLatin1Char('/')))
{ }

QString ModuleTopics::problem(const QString &base)
{
    if (const QString text = mqttTextProblem(base); !text.isEmpty())
        return text;
    // One '+' may stand for a whole level; with a name put in its place the
    // base must be one a bridge could publish under.
    QStringList levels = base.split(QLatin1Char('/'));
    const int wildcards = levels.count(QStringLiteral("+"));
    for (QString &level : levels)
        if (level == QLatin1String("+"))
            level = QStringLiteral("module");
    if (wildcards > 1 || !isTopicBase(levels.join(QLatin1Char('/'))))
        return QStringLiteral("takes a module's topic such as bench/module1, or one '+' level for every "
                              "module there such as bench/+ (no '#', empty level or leading '$' or '/'), "
                              "not '%1'")
            .arg(base);
    return QString();
}

QStringList ModuleTopics::subscriptions() const
{
    QStringList topics;
    for (const QString &leaf : stateLeaves)
        topics << base() + QLatin1Char('/') + leaf;
    return topics;
}

QString ModuleTopics::moduleOf(const QString &topic, QString *leaf) const
{
    QStringList got = topic.split(QLatin1Char('/'));
    if (got.size() != levels.size() + 1 || !stateLeaves.contains(got.last()))
        return QString();
    for (int i = 0; i < levels.size(); ++i)
        if (levels[i] != QLatin1String("+") && levels[i] != got[i])
            return QString();
    *leaf = got.takeLast();
    const QString module = got.join(QLatin1Char('/'));
    // A name the broker let through but that no bridge could have: not listed.
    return isTopicBase(module) ? module : QString();
}
