#ifndef STANDARDSTREAMS_H
#define STANDARDSTREAMS_H

// For a program that writes to pipes and is started by scripts: a closed
// pipe shows as a failed write (SIGPIPE ignored) instead of killing it, and a
// standard stream closed at the start is held by /dev/null read-only, so no
// descriptor opened later (a port, a socket) is taken for it: standard input
// then reads as empty and writes to the others fail.
void guardStandardStreams();

#endif // STANDARDSTREAMS_H
