// What the popup's whole-program tests need around the real program: a
// private X server, the notice pages on the shared loopback server, child
// processes and a look at the windows from outside.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/loopback_http_server.h"
#include "support/run_process.h"

namespace tosk::testing {

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start, Clock::time_point end = Clock::now()) {
    return std::chrono::duration<double>(end - start).count();
}

using morix::testing::HttpReply;
using morix::testing::StartProcess;
using morix::testing::WaitForExit;

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
        pid_ = StartProcess({"Xvfb", "-displayfd", "9", "-screen", "0", "1280x800x24", "-br",
                             "-nolisten", "tcp", "-noreset"},
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
        if (!WaitForExit(pid_, std::chrono::seconds(5))) {
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

// The X server as a window manager sees it (the private server runs none):
// asks a window to close, and watches what windows ask of the manager.
class WindowManagerView {
  public:
    WindowManagerView() : connection_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }
    ~WindowManagerView() { xcb_disconnect(connection_); }
    WindowManagerView(const WindowManagerView&) = delete;
    WindowManagerView& operator=(const WindowManagerView&) = delete;

    // What the close box of a window's frame does: WM_DELETE_WINDOW.
    void Close(const std::string& id) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = static_cast<xcb_window_t>(std::stoul(id));
        event.type = Atom("WM_PROTOCOLS");
        event.data.data32[0] = Atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(connection_, 0, event.window, XCB_EVENT_MASK_NO_EVENT,
                       reinterpret_cast<const char*>(&event));
        xcb_flush(connection_);
    }

    // Whether window has asked, since this view was made, to leave the layer
    // above the other windows (_NET_WM_STATE "remove" "above").
    bool AskedToLeaveTopLayer(const std::string& id) {
        const xcb_window_t window = static_cast<xcb_window_t>(std::stoul(id));
        const xcb_atom_t state = Atom("_NET_WM_STATE");
        const xcb_atom_t above = Atom("_NET_WM_STATE_ABOVE");
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
                if (message->type == state && message->data.data32[0] == 0 &&
                    (message->data.data32[1] == above || message->data.data32[2] == above)) {
                    left_.push_back(message->window);
                }
            }
            std::free(event);
        }
        return std::find(left_.begin(), left_.end(), window) != left_.end();
    }

  private:
    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_,
            xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return atom;
    }

    xcb_connection_t* connection_;
    xcb_window_t root_ = 0;
    std::vector<xcb_window_t> left_;
};

// The notice pages by path (any query), on a loopback server. Every answer is HTML that
// must not be cached; a page reports to the test by asking for
// /report?key=value, which is answered with no content.
class PageServer {
  public:
    explicit PageServer(std::map<std::string, HttpReply> pages)
        : server_([pages = std::move(pages)](const std::string& head) {
              const std::string target = morix::testing::RequestTarget(head);
              HttpReply reply{404, "<!DOCTYPE html><title>Not found</title><p>Not found</p>"};
              if (target.compare(0, 8, "/report?") == 0) reply = HttpReply{204, ""};
              // A page answers with or without a query.
              auto page = pages.find(target);
              if (page == pages.end()) page = pages.find(target.substr(0, target.find('?')));
              if (page != pages.end()) reply = page->second;
              reply.extraHeaders +=
                  "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n";
              return reply;
          }) {}

    std::string Url(const std::string& path) const { return server_.Root() + path; }

    // When path was first asked for.
    std::optional<Clock::time_point> Requested(const std::string& path) const {
        const auto request =
            server_.FirstRequest([&path](const std::string& target) { return target == path; });
        if (!request) return std::nullopt;
        return request->at;
    }

    // The value the page reported for key, waiting up to timeout for it.
    std::optional<std::string> Report(const std::string& key,
                                      std::chrono::milliseconds timeout = std::chrono::seconds(0),
                                      Clock::time_point* when = nullptr) const {
        const std::string prefix = "/report?" + key + "=";
        const auto request = server_.FirstRequest(
            [&prefix](const std::string& target) {
                return target.compare(0, prefix.size(), prefix) == 0;
            },
            timeout);
        if (!request) return std::nullopt;
        if (when) *when = request->at;
        return Decode(morix::testing::RequestTarget(request->head).substr(prefix.size()));
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

    morix::testing::LoopbackHttpServer server_;
};

}  // namespace tosk::testing
