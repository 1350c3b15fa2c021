#ifndef BROKERARGUMENTS_H
#define BROKERARGUMENTS_H

#include <QString>

class QCommandLineParser;
struct CommandLine;

// The options that put the panel on a broker instead of a port: --broker,
// --topic, and the broker options the bridge takes (--tls-ca, --username,
// --password-file, --client-id, --keepalive), with the same meanings and
// checks.
void addBrokerOptions(QCommandLineParser &parser);

// Reads them into `commandLine`; why they can't be used, naming the option,
// or an empty string.
QString readBrokerOptions(const QCommandLineParser &parser, CommandLine &commandLine);

#endif // BROKERARGUMENTS_H
