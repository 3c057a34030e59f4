// A tiny HTTP server on 127.0.0.1 for tests of network clients, from the
// version check to a web browser. Each connection is served on a thread of its
// own, since a browser opens several at once and may open one it never uses.
// It can misbehave on purpose: stall, send a body without end, or close
// before the announced length. It keeps each request and when it came.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace morix::testing {

struct HttpReply {
    enum class Kind {
        kNormal,      // status, headers, body, close
        kStall,       // accept the request, then send nothing
        kStallBody,   // send the headers, then nothing
        kEndless,     // headers without a length, then body bytes until the client goes
        kCloseEarly,  // announce the body's length, send half of it, close
    };
    HttpReply(int status, std::string body, Kind kind = Kind::kNormal,
              std::string extraHeaders = {})
        : status(status),
          body(std::move(body)),
          kind(kind),
          extraHeaders(std::move(extraHeaders)) {}

    int status;
    std::string body;
    Kind kind;
    std::string extraHeaders;  // complete lines, each ending in CRLF
};

// The request target of a request head ("/a?b" of "GET /a?b HTTP/1.1"); empty
// when the head has no request line.
inline std::string RequestTarget(const std::string& head) {
    const std::size_t space = head.find(' ');
    if (space == std::string::npos) return {};
    const std::size_t end = head.find_first_of(" \r\n", space + 1);
    if (end == std::string::npos || head[end] != ' ') return {};
    return head.substr(space + 1, end - space - 1);
}

struct ServedRequest {
    std::string head;  // request line and headers
    std::chrono::steady_clock::time_point at;
};

class LoopbackHttpServer {
  public:
    using Handler = std::function<HttpReply(const std::string& requestHead)>;

    explicit LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || ::pipe2(wake_, O_CLOEXEC) != 0)
            throw std::runtime_error("loopback server: socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("loopback server: bind");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }

    explicit LoopbackHttpServer(HttpReply reply)
        : LoopbackHttpServer([reply](const std::string&) { return reply; }) {}

    ~LoopbackHttpServer() {
        stopping_ = true;
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
        acceptor_.join();
        for (std::thread& connection : connections_)
            connection.join();
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Root() const { return "http://127.0.0.1:" + std::to_string(port_); }

    // The heads (request line and headers) of the requests served so far.
    std::vector<std::string> Requests() const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<std::string> heads;
        for (const ServedRequest& request : requests_)
            heads.push_back(request.head);
        return heads;
    }

    // The first request whose target matches, waiting up to timeout for one.
    std::optional<ServedRequest> FirstRequest(
        const std::function<bool(const std::string& target)>& matches,
        std::chrono::milliseconds timeout = std::chrono::milliseconds(0)) const {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(mutex_);
                for (const ServedRequest& request : requests_)
                    if (matches(RequestTarget(request.head))) return request;
            }
            if (std::chrono::steady_clock::now() >= end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

  private:
    // Waits until fd is ready for events or the server stops; false on stop.
    bool WaitFor(int fd, short events, int timeoutMs = -1) {
        pollfd fds[2] = {{fd, events, 0}, {wake_[0], POLLIN, 0}};
        for (;;) {
            const int rc = ::poll(fds, 2, timeoutMs);
            if (rc < 0 && errno == EINTR) continue;
            return rc > 0 && !(fds[1].revents & POLLIN) && !stopping_;
        }
    }

    bool SendAll(int fd, const std::string& data) {
        std::size_t sent = 0;
        while (sent < data.size()) {
            if (!WaitFor(fd, POLLOUT)) return false;
            const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    // Blocks until the client closes the connection or the server stops.
    void HoldOpen(int fd) {
        char buffer[4096];
        while (WaitFor(fd, POLLIN)) {
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return;
        }
    }

    void Accept() {
        while (WaitFor(listener_, POLLIN)) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connections_.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
               WaitFor(fd, POLLIN)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.push_back({head, std::chrono::steady_clock::now()});
        }
        Answer(fd, handler_(head));
        ::close(fd);
    }

    void Answer(int fd, const HttpReply& reply) {
        using Kind = HttpReply::Kind;
        if (reply.kind == Kind::kStall) {
            HoldOpen(fd);
            return;
        }
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n" +
                           reply.extraHeaders + "Connection: close\r\n";
        if (reply.kind != Kind::kEndless)
            head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        head += "\r\n";
        if (!SendAll(fd, head)) return;
        switch (reply.kind) {
            case Kind::kNormal:
                SendAll(fd, reply.body);
                break;
            case Kind::kStallBody:
                HoldOpen(fd);
                break;
            case Kind::kEndless: {
                const std::string chunk(65536, 'x');
                while (SendAll(fd, chunk)) {
                }
                break;
            }
            case Kind::kCloseEarly:
                SendAll(fd, reply.body.substr(0, reply.body.size() / 2));
                break;
            case Kind::kStall:
                break;
        }
        ::shutdown(fd, SHUT_WR);
    }

    Handler handler_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<ServedRequest> requests_;
    std::thread acceptor_;
    std::vector<std::thread> connections_;  // touched by the acceptor only, until it ended
};

}  // namespace morix::testing
