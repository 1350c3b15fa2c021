#ifndef ASNOBODY_H
#define ASNOBODY_H

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <grp.h>
#include <unistd.h>

// Runs one test function of this test program again in a child process as
// the unprivileged user "nobody" (uid and gid 65534), for checks that root
// would pass whatever the file permissions say. The child is this program,
// started with the function's name and IOPANEL_TEST_AS_NOBODY set; its
// main() calls becomeNobodyIfAsked() before Qt starts any thread.

constexpr char asNobodyVariable[] = "IOPANEL_TEST_AS_NOBODY";
constexpr uid_t nobodyId = 65534;

inline bool isNobodyChild()
{
    return qEnvironmentVariableIsSet(asNobodyVariable);
}

// First thing in main(): in the child, drops every group and both ids to
// nobody's, for good. False if that failed.
inline bool becomeNobodyIfAsked()
{
    if (!isNobodyChild())
        return true;
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobodyId) == 0 && ::setuid(nobodyId) == 0
        && ::getuid() == nobodyId && ::geteuid() == nobodyId;
}

// Runs `testFunction` in the child, headless, with `extra` added to the
// environment; the child's output goes to `output`. Returns its exit code,
// or -1 if it did not finish within `timeoutMs` (it is killed then).
inline int runAsNobody(const QString &testFunction, const QProcessEnvironment &extra, QByteArray &output,
                       int timeoutMs)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(extra);
    environment.insert(QString::fromLatin1(asNobodyVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // root's runtime directory is not nobody's; Qt makes its own.
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));

    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {testFunction});
    const bool finished = child.waitForFinished(timeoutMs);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    output = child.readAll();
    return finished && child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

#endif // ASNOBODY_H
