#ifndef RUDEPEER_H
#define RUDEPEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

// No broker on 127.0.0.1: it closes, resets or silently holds each connection, and counts them.
class RudePeer
{
public:
    enum Manner { Closes, Resets, Holds };

    explicit RudePeer(Manner manner)
    {
        listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listening, reinterpret_cast<sockaddr *>(&address), size);
        ::listen(listening, 8);
        ::getsockname(listening, reinterpret_cast<sockaddr *>(&address), &size);
        port = ntohs(address.sin_port);
        thread = std::thread([this, manner] { serve(manner); });
    }
    ~RudePeer()
    {
        done = true;
        thread.join();
        ::close(listening);
    }

    int port = 0;
    std::atomic<int> accepted{0};

private:
    void serve(Manner manner)
    {
        std::vector<int> held;
        while (!done) {
            pollfd ready = {listening, POLLIN, 0};
            if (::poll(&ready, 1, 100) < 1)
                continue;
            const int connection = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            ++accepted;
            if (manner == Resets) {
                const linger now = {1, 0}; // a close that sends RST
                ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &now, sizeof now);
            }
            if (manner == Holds)
                held.push_back(connection);
            else
                ::close(connection);
        }
        for (const int connection : held)
            ::close(connection);
    }

    int listening = -1;
    std::atomic<bool> done{false};
    std::thread thread;
};

#endif // RUDEPEER_H
