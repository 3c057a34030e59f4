// A small synchronous HTTP client: one request at a time, on libcurl.
//
// The order of use is OpenRequest -> SendRequest -> QueryStatusCode ->
// ReadBytes/ReadText -> Close (the destructor closes too). The body is pulled
// from the network as it is read, in chunks of kHttpChunkSize bytes.
//
// Unlike the platform clients this replaces, every request is bounded: a
// connect time-out, a stall time-out, an overall time-out and a cap on the
// size of the answer. A request made on a JThread also gives up within a
// fraction of a second once that thread is asked to stop, so joining such a
// thread never waits for the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace morix {

// Request flags. Reload and no-cache-write are what the version requests ask
// for; this client keeps no cache, so both always hold. Secure is added for
// https addresses.
inline constexpr std::uint32_t kHttpFlagReload = 0x80000000u;
inline constexpr std::uint32_t kHttpFlagNoCacheWrite = 0x04000000u;
inline constexpr std::uint32_t kHttpFlagSecure = 0x00800000u;

inline constexpr std::uint32_t kCodePageUtf7 = 65000;
inline constexpr std::uint32_t kCodePageUtf8 = 65001;

inline constexpr std::size_t kHttpChunkSize = 8192;

struct HttpLimits {
    long connectTimeoutMs = 10000;
    // The request fails when no byte arrives for this long (whole seconds).
    long stallTimeoutSeconds = 15;
    long totalTimeoutMs = 60000;
    // A version answer is a few hundred bytes; anything near this size is not
    // one, and an endless body must not fill the memory.
    std::size_t maxAnswerBytes = 1024 * 1024;
};

// The process-wide root every client works on: the user agent and the
// library's one-time global set-up.
class InternetSession {
  public:
    explicit InternetSession(std::string userAgent);
    ~InternetSession();
    InternetSession(const InternetSession&) = delete;
    InternetSession& operator=(const InternetSession&) = delete;

    const std::string& UserAgent() const { return userAgent_; }

  private:
    std::string userAgent_;
};

// The shared session, created on the first call with that caller's agent
// ("HttpClient" when it gives none); later callers get the same session
// whatever agent they name. Safe to call from several threads at once.
InternetSession* GetSharedInternet(const char16_t* agent);

class HttpClient {
  public:
    // root null: the shared session.
    explicit HttpClient(InternetSession* root = nullptr, HttpLimits limits = {});
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Prepares a request; nothing goes over the network yet. Only absolute
    // http and https addresses are accepted. The query stays part of the
    // request path. Spaces and non-ASCII characters are sent percent-encoded
    // (UTF-8). Any request still open is closed first.
    bool OpenRequest(std::u16string_view verb, std::u16string_view url, std::uint32_t flags);

    // Sends the request and waits for the answer's status line and headers.
    // headers: CRLF-separated header lines, or null; headersLength in
    // characters, -1 for up to the terminator. optional: the request body, or
    // null. True once the status of the final answer is known (redirects to
    // http or https addresses are followed).
    bool SendRequest(const char16_t* headers, int headersLength, const void* optional,
                     std::uint32_t optionalLength);

    // The numeric status of the answer; false before a successful send.
    bool QueryStatusCode(std::uint32_t& code) const;

    // Reads the body in chunks of kHttpChunkSize bytes until its end, a
    // failure, or - when maxBytes > 0 - until maxBytes bytes have been counted
    // off; the last chunk stays whole, so the result can pass the limit by less
    // than one chunk. Returns what was read; BodyComplete() tells whether that
    // is the whole body.
    std::string ReadBytes(int maxBytes);

    // ReadBytes, cut at the first zero byte and decoded to UTF-16: as UTF-7
    // for kCodePageUtf7, else as UTF-8 (the system's multibyte charset here,
    // whatever code page is named). Malformed sequences become U+FFFD.
    std::u16string ReadText(std::uint32_t codePage, int maxBytes);

    // True when the transfer ended cleanly and every byte of the body has been
    // read. False after a time-out, a stop request, a connection closed before
    // the announced length, an answer over the size cap, or while body bytes
    // remain unread.
    bool BodyComplete() const;

    // The flags of the open request (with kHttpFlagSecure for https); 0 when
    // none is open.
    std::uint32_t RequestFlags() const;

    // Ends the request, dropping any unread part of the answer. The session
    // stays open.
    void Close();

  private:
    struct Transfer;

    InternetSession* root_;
    HttpLimits limits_;
    std::unique_ptr<Transfer> transfer_;
};

}  // namespace morix
