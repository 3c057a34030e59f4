// What the popup's whole-program tests need around the real program: a
// private X server, a loopback web server for the notice pages, child
// processes and a look at the windows from outside.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/run_process.h"

namespace tosk::testing {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start, Clock::time_point end = Clock::now()) {
    return std::chrono::duration<double>(end - start).count();
}

// Starts a program with the test's environment, its output to logFile.
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile = "/dev/null",
                   int keepFd = -1, int asFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (keepFd >= 0) posix_spawn_file_actions_adddup2(&actions, keepFd, asFd);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    return pid;
}

// The exit code once the process has ended within the time, else nothing.
inline std::optional<int> WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0 || Clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// What a short command printed.
inline std::string Capture(const std::vector<std::string>& argv) {
    return morix::testing::RunProcess(argv).out;
}

// Xvfb on a display number it picks itself, so tests can run side by side.
class XServer {
  public:
    XServer() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        pid_ = Spawn({"Xvfb", "-displayfd", "9", "-screen", "0", "1280x800x24", "-br", "-nolisten",
                      "tcp", "-noreset"},
                     "/dev/null", fds[1], 9);
        ::close(fds[1]);
        std::string number;
        pollfd in{fds[0], POLLIN, 0};
        while (number.find('\n') == std::string::npos && ::poll(&in, 1, 10000) > 0) {
            char c[16];
            const ssize_t n = ::read(fds[0], c, sizeof c);
            if (n <= 0) break;
            number.append(c, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        if (number.find('\n') == std::string::npos) throw std::runtime_error("Xvfb did not start");
        display_ = std::string(":").append(
            number, 0, number.find('\n'));  // GCC 12 warns falsely on ":" + string
    }
    ~XServer() {
        ::kill(pid_, SIGTERM);
        if (!WaitExit(pid_, std::chrono::seconds(5))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    const std::string& Display() const { return display_; }

  private:
    pid_t pid_ = -1;
    std::string display_;
};

struct WindowFacts {
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};

// Windows of the display whose title is exactly title (all, or only the mapped ones).
inline std::vector<std::string> FindWindows(const std::string& title, bool onlyVisible) {
    std::vector<std::string> argv{"/usr/bin/xdotool", "search"};
    if (onlyVisible) argv.push_back("--onlyvisible");
    argv.insert(argv.end(), {"--name", "^" + title + "$"});
    const std::string out = Capture(argv);
    std::vector<std::string> ids;
    std::size_t start = 0;
    while (start < out.size()) {
        const std::size_t end = out.find('\n', start);
        const std::string line = out.substr(start, end - start);
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            ids.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return ids;
}

// Any mapped window of the popup program, whatever its title.
inline bool AnyPopupWindowVisible() {
    return !Capture({"/usr/bin/xdotool", "search", "--onlyvisible", "--classname", "tosk"}).empty();
}

inline WindowFacts Inspect(const std::string& id) {
    const std::string out = Capture({"/usr/bin/xwininfo", "-id", id});
    WindowFacts facts;
    const auto number = [&out](const char* label) {
        const std::size_t at = out.find(label);
        return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + std::strlen(label));
    };
    facts.x = number("Absolute upper-left X:");
    facts.y = number("Absolute upper-left Y:");
    facts.width = number("Width:");
    facts.height = number("Height:");
    facts.viewable = out.find("Map State: IsViewable") != std::string::npos;
    return facts;
}

// The window's _NET_WM_WINDOW_OPACITY, or nothing when it has none.
inline std::optional<unsigned long> WindowOpacity(const std::string& id) {
    const std::string out = Capture({"/usr/bin/xprop", "-id", id, "_NET_WM_WINDOW_OPACITY"});
    const std::size_t at = out.find("= ");
    if (at == std::string::npos) return std::nullopt;
    return std::stoul(out.substr(at + 2));
}

struct Reply {
    int status = 200;
    std::string body;
    bool stall = false;  // take the request and never answer
};

// Serves pages on 127.0.0.1, each connection on its own thread, and keeps
// what the page reports: a request for /report?key=value.
class PageServer {
  public:
    explicit PageServer(std::map<std::string, Reply> pages) : pages_(std::move(pages)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener_ < 0 || ::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 32) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("bind");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { AcceptLoop(); });
    }

    ~PageServer() {
        stopping_ = true;
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
        acceptor_.join();
        for (std::thread& t : connections_)
            t.join();
        ::close(listener_);
        ::close(wake_[0]);
        ::close(wake_[1]);
    }

    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // When path was first asked for.
    std::optional<Clock::time_point> Requested(const std::string& path) const {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const auto& [target, when] : requests_)
            if (target == path) return when;
        return std::nullopt;
    }

    // The value the page reported for key, waiting up to timeout for it.
    std::optional<std::string> Report(const std::string& key,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(0),
                                      Clock::time_point* when = nullptr) const {
        const auto end = Clock::now() + timeout;
        const std::string prefix = "/report?" + key + "=";
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(mutex_);
                for (const auto& [target, at] : requests_)
                    if (target.compare(0, prefix.size(), prefix) == 0) {
                        if (when) *when = at;
                        return Decode(target.substr(prefix.size()));
                    }
            }
            if (Clock::now() >= end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

  private:
    static std::string Decode(const std::string& text) {
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += text[i];
            }
        }
        return out;
    }

    bool Wait(int fd, int timeoutMs) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int rc = ::poll(fds, 2, timeoutMs);
        return rc > 0 && !(fds[1].revents & POLLIN) && !stopping_;
    }

    void AcceptLoop() {
        while (Wait(listener_, -1)) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) connections_.emplace_back([this, fd] { Serve(fd); });
        }
    }

    void Serve(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536 &&
               Wait(fd, 10000)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        const std::size_t space = head.find(' ');
        const std::size_t end = head.find(' ', space + 1);
        if (space == std::string::npos || end == std::string::npos) {
            ::close(fd);
            return;
        }
        const std::string target = head.substr(space + 1, end - space - 1);
        {
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.emplace_back(target, Clock::now());
        }
        Reply reply{404, "<!DOCTYPE html><title>Not found</title><p>Not found</p>"};
        if (target.compare(0, 8, "/report?") == 0) reply = Reply{204, ""};
        if (auto page = pages_.find(target); page != pages_.end()) reply = page->second;
        if (reply.stall) {
            while (Wait(fd, -1) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
            }
        } else {
            const std::string answer =
                "HTTP/1.1 " + std::to_string(reply.status) +
                " Status\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                "Connection: close\r\nContent-Length: " +
                std::to_string(reply.body.size()) + "\r\n\r\n" + reply.body;
            [[maybe_unused]] ssize_t n = ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            ::shutdown(fd, SHUT_WR);
            Wait(fd, 2000);
        }
        ::close(fd);
    }

    std::map<std::string, Reply> pages_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, Clock::time_point>> requests_;
    std::thread acceptor_;
    std::vector<std::thread> connections_;
};

}  // namespace tosk::testing
