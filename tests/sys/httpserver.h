// A small HTTP server that a test runs on 127.0.0.1, for the downloads and
// the online services that use them: fixed bodies, failures, held and
// stalled transfers, and a count of the requests per path.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline uint8_t testbyte(int i)
{
    return (uint8_t)(i * 7 % 251);
}

// Waits in 10 ms steps until flag is set, at most the given seconds.
inline void testwait(const std::atomic<bool> &flag, double seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!flag && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// An HTTP server on 127.0.0.1 with a thread per connection. Paths:
// "/body/N" sends N pattern bytes, "/missing" a 404, "/moved" a 302,
// "/stall" the head of 1,000 bytes and then nothing, "/hold" 10 of 1,000 bytes
// and the rest once released; any path ending in "index.dat" indexbytes
// pattern bytes, held like "/hold" while holdindex is set. Requests are counted by path. Every wait is bounded
// and stop ends them all.
class testserver {
public:
    int port = 0;
    std::atomic<bool> release{false};
    std::atomic<int> holding{0}; // "/hold" connections that sent their first part
    std::atomic<bool> holdindex{false};
    static constexpr int indexbytes = 100;

    // Requests received for the path.
    int requests(const std::string &path)
    {
        std::lock_guard<std::mutex> lock(countlock);
        return counts[path];
    }

    bool start()
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (listener < 0 || bind(listener, (sockaddr *)&addr, sizeof(addr)) != 0 || listen(listener, 16) != 0 ||
            getsockname(listener, (sockaddr *)&addr, &len) != 0)
            return false;
        port = ntohs(addr.sin_port);
        acceptor = std::thread([this] { acceptloop(); });
        return true;
    }

    void stop()
    {
        stopping = true;
        if (acceptor.joinable())
            acceptor.join();
        for (std::thread &t : handlers)
            t.join();
        handlers.clear();
        if (listener >= 0)
            close(listener);
        listener = -1;
    }

    std::string url(const char *path) const
    {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }

private:
    int listener = -1;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::vector<std::thread> handlers; // touched by the acceptor, then by stop
    std::mutex countlock;
    std::map<std::string, int> counts;

    void acceptloop()
    {
        // At most a minute, in case a test forgets to stop the server.
        for (int tick = 0; tick < 1200 && !stopping; tick++) {
            pollfd p = {listener, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            int client = accept(listener, nullptr, nullptr);
            if (client >= 0)
                handlers.emplace_back([this, client] { serve(client); });
        }
    }

    static std::string readrequest(int client)
    {
        std::string request;
        char chunk[1024];
        for (int tick = 0; tick < 100 && request.find("\r\n\r\n") == std::string::npos && request.size() < 8192;
             tick++) {
            pollfd p = {client, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            ssize_t got = recv(client, chunk, sizeof(chunk), 0);
            if (got <= 0)
                break;
            request.append(chunk, (size_t)got);
        }
        return request;
    }

    static bool sendall(int client, const std::string &bytes)
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            ssize_t n = send(client, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += (size_t)n;
        }
        return true;
    }

    static std::string head(const char *status, size_t length, const char *extra = "")
    {
        return std::string("HTTP/1.0 ") + status + "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra +
               "Connection: close\r\n\r\n";
    }

    static std::string pattern(int from, int to)
    {
        std::string bytes;
        for (int i = from; i < to; i++)
            bytes += (char)testbyte(i);
        return bytes;
    }

    void serve(int client)
    {
        std::string request = readrequest(client);
        size_t start = request.find(' ') + 1;
        std::string path = request.substr(start, request.find(' ', start) - start);
        {
            std::lock_guard<std::mutex> lock(countlock);
            counts[path]++;
        }
        if (path.size() > 9 && path.compare(path.size() - 9, 9, "index.dat") == 0) {
            const int n = indexbytes;
            if (holdindex) {
                sendall(client, head("200 OK", n) + pattern(0, 1));
                holding++;
                testwait(release, 10.0);
                if (!stopping)
                    sendall(client, pattern(1, n));
            } else {
                sendall(client, head("200 OK", n) + pattern(0, n));
            }
        } else if (path.rfind("/body/", 0) == 0) {
            int n = atoi(path.c_str() + 6);
            sendall(client, head("200 OK", n) + pattern(0, n));
        } else if (path == "/stall") {
            sendall(client, head("200 OK", 1000));
            testwait(stopping, 10.0);
        } else if (path == "/hold") {
            sendall(client, head("200 OK", 1000) + pattern(0, 10));
            holding++;
            testwait(release, 10.0);
            if (!stopping)
                sendall(client, pattern(10, 1000));
        } else if (path == "/moved") {
            std::string to = "Location: " + url("/body/10") + "\r\n";
            sendall(client, head("302 Found", 5, to.c_str()) + "moved");
        } else {
            sendall(client, head("404 Not Found", 8) + "not here");
        }
        close(client);
    }
};

// A port on 127.0.0.1 that refuses connections: bound by the test and never
// listened on, and held for the test's whole life so that no other process
// can take it meanwhile.
struct testclosedport {
    int socket = -1;
    int port = 0;

    testclosedport()
    {
        socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof(addr);
        if (socket >= 0 && bind(socket, (sockaddr *)&addr, sizeof(addr)) == 0 &&
            getsockname(socket, (sockaddr *)&addr, &len) == 0)
            port = ntohs(addr.sin_port);
    }
    ~testclosedport()
    {
        if (socket >= 0)
            close(socket);
    }
    testclosedport(const testclosedport &) = delete;
    testclosedport &operator=(const testclosedport &) = delete;
};
