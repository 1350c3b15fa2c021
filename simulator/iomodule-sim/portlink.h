#pragma once

#include <QString>

// A symbolic link that names the simulator's current pseudo-terminal, so that
// the panel keeps one path (--port LINK) while the pseudo-terminal behind it
// is replaced. The link is removed when this object goes, if it is still the
// one this object made.
class PortLink
{
public:
    explicit PortLink(const QString &path);
    ~PortLink();
    PortLink(const PortLink &) = delete;
    PortLink &operator=(const PortLink &) = delete;

    // Points the link at `target` in one step (the panel never finds it
    // missing); an empty target removes it. False with `error` set on
    // failure, and when another program has pointed the link elsewhere.
    bool pointAt(const QString &target, QString &error);

    QString path() const { return path_; }

private:
    QString path_;
    QByteArray made_; // what the link made here points at; empty before and after
};
