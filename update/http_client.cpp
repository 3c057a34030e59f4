#include "update/http_client.h"

#include <curl/curl.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "thread/thread.h"

namespace morix {

namespace {

// How often a waiting request looks at its thread's stop flag.
constexpr int kStopCheckIntervalMs = 50;
constexpr int kMaxRedirects = 5;

// Strict UTF-16 -> UTF-8: an unpaired surrogate fails.
bool ToUtf8(std::u16string_view text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
    out.resize(static_cast<std::size_t>(length));
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), length, &length, text.data(), static_cast<int32_t>(text.size()),
                &status);
    return U_SUCCESS(status);
}

// Spaces and non-ASCII bytes are percent-encoded, as browsers send them.
// Control characters are refused: they have no place in an address and could
// split the request line.
bool EncodeUrl(std::u16string_view url, std::string& out) {
    std::string utf8;
    if (!ToUtf8(url, utf8)) return false;
    static const char kHex[] = "0123456789ABCDEF";
    out.clear();
    for (unsigned char c : utf8) {
        if (c < 0x20 || c == 0x7F) return false;
        if (c == ' ' || c >= 0x80) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return true;
}

bool IsToken(std::string_view s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '_';
    });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = s[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
        if (a != b) return false;
    }
    return true;
}

}  // namespace

InternetSession::InternetSession(std::string userAgent) : userAgent_(std::move(userAgent)) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

InternetSession::~InternetSession() {
    curl_global_cleanup();
}

InternetSession* GetSharedInternet(const char16_t* agent) {
    static std::once_flag once;
    static std::unique_ptr<InternetSession> shared;
    std::call_once(once, [agent] {
        std::string name = "HttpClient";
        std::string given;
        if (agent != nullptr && *agent != 0 && ToUtf8(agent, given)) {
            // The agent goes into a header line.
            given.erase(std::remove_if(given.begin(), given.end(),
                                       [](char c) {
                                           return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
                                       }),
                        given.end());
            if (!given.empty()) name = given;
        }
        shared = std::make_unique<InternetSession>(std::move(name));
    });
    return shared.get();
}

struct HttpClient::Transfer {
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    CURLU* url = nullptr;
    curl_slist* headers = nullptr;
    std::string verb;
    std::uint32_t flags = 0;
    std::size_t cap = 0;

    bool added = false;  // the easy handle is in the multi handle
    bool sent = false;
    bool headersDone = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    std::uint32_t status = 0;

    // One block of headers: a redirect's headers are followed by the next
    // answer's.
    bool blockHasLocation = false;

    std::string pending;  // received, not yet read
    std::size_t pendingOffset = 0;
    std::size_t received = 0;
    bool decodeFailed = false;

    ~Transfer() {
        if (added) curl_multi_remove_handle(multi, easy);
        if (easy) curl_easy_cleanup(easy);
        if (multi) curl_multi_cleanup(multi);
        if (url) curl_url_cleanup(url);
        if (headers) curl_slist_free_all(headers);
    }

    std::size_t Available() const { return pending.size() - pendingOffset; }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const std::size_t n = size * count;
        t->headersDone = true;
        if (n > t->cap || t->received > t->cap - n) return 0;  // aborts the transfer: over the cap
        t->received += n;
        if (t->pendingOffset > 0 && t->pendingOffset == t->pending.size()) {
            t->pending.clear();
            t->pendingOffset = 0;
        }
        t->pending.append(data, n);
        return n;
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        const std::size_t n = size * count;
        const std::string_view line(data, n);
        if (StartsWithNoCase(line, "http/")) {
            t->blockHasLocation = false;
        } else if (StartsWithNoCase(line, "location:")) {
            t->blockHasLocation = true;
        } else if (line == "\r\n" || line == "\n") {
            long code = 0;
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
            const bool followed =
                t->blockHasLocation &&
                (code == 301 || code == 302 || code == 303 || code == 307 || code == 308);
            if (code >= 200 && !followed) {
                t->status = static_cast<std::uint32_t>(code);
                t->headersDone = true;
            }
        }
        return n;
    }

    void Abort(CURLcode why) {
        if (added) {
            curl_multi_remove_handle(multi, easy);
            added = false;
        }
        done = true;
        result = why;
    }

    // Drives the transfer until enough() holds, it ends, or the calling
    // library thread is asked to stop.
    template <typename Enough>
    void Pump(Enough enough) {
        while (!enough() && !done) {
            if (const JThread* self = JThread::Current(); self && self->StopRequested()) {
                Abort(CURLE_ABORTED_BY_CALLBACK);
                return;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                Abort(CURLE_FAILED_INIT);
                return;
            }
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
                    done = true;
                    result = message->data.result;
                }
            }
            if (enough() || done) return;
            if (curl_multi_poll(multi, nullptr, 0, kStopCheckIntervalMs, nullptr) != CURLM_OK) {
                Abort(CURLE_FAILED_INIT);
                return;
            }
        }
    }
};

HttpClient::HttpClient(InternetSession* root, HttpLimits limits)
    : root_(root ? root : GetSharedInternet(nullptr)), limits_(limits) {}

HttpClient::~HttpClient() {
    Close();
}

void HttpClient::Close() {
    transfer_.reset();
}

std::uint32_t HttpClient::RequestFlags() const {
    return transfer_ ? transfer_->flags : 0;
}

bool HttpClient::OpenRequest(std::u16string_view verb, std::u16string_view url,
                             std::uint32_t flags) {
    Close();
    auto t = std::make_unique<Transfer>();
    if (!ToUtf8(verb, t->verb) || !IsToken(t->verb)) return false;
    std::string address;
    if (!EncodeUrl(url, address)) return false;

    t->url = curl_url();
    if (!t->url || curl_url_set(t->url, CURLUPART_URL, address.c_str(), 0) != CURLUE_OK)
        return false;
    char* scheme = nullptr;
    if (curl_url_get(t->url, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return false;
    const std::string schemeText = scheme;
    curl_free(scheme);
    if (schemeText == "https") {
        flags |= kHttpFlagSecure;
    } else if (schemeText != "http") {
        return false;
    }
    char* host = nullptr;
    if (curl_url_get(t->url, CURLUPART_HOST, &host, 0) != CURLUE_OK) return false;
    const bool hasHost = host[0] != 0;
    curl_free(host);
    if (!hasHost) return false;

    t->flags = flags;
    t->cap = limits_.maxAnswerBytes;
    t->easy = curl_easy_init();
    t->multi = curl_multi_init();
    if (!t->easy || !t->multi) return false;

    CURL* e = t->easy;
    bool ok = curl_easy_setopt(e, CURLOPT_CURLU, t->url) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_USERAGENT, root_->UserAgent().c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_MAXREDIRS, static_cast<long>(kMaxRedirects)) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, nullptr) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, limits_.connectTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, limits_.totalTimeoutMs) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, limits_.stallTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::OnBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get()) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader) == CURLE_OK;
    ok = ok && curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get()) == CURLE_OK;
    if (t->verb == "HEAD") {
        ok = ok && curl_easy_setopt(e, CURLOPT_NOBODY, 1L) == CURLE_OK;
    } else if (t->verb != "GET") {
        ok = ok && curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, t->verb.c_str()) == CURLE_OK;
    }
    if (!ok) return false;
    transfer_ = std::move(t);
    return true;
}

bool HttpClient::SendRequest(const char16_t* headers, int headersLength, const void* optional,
                             std::uint32_t optionalLength) {
    Transfer* t = transfer_.get();
    if (!t || t->sent) return false;
    // A body announced without its bytes would have to be written later; this
    // client has no such operation.
    if (optional == nullptr && optionalLength != 0) return false;

    if (headers != nullptr) {
        const std::u16string_view text =
            headersLength < 0
                ? std::u16string_view(headers)
                : std::u16string_view(headers, static_cast<std::size_t>(headersLength));
        std::string utf8;
        if (!ToUtf8(text, utf8)) return false;
        std::size_t start = 0;
        while (start < utf8.size()) {
            std::size_t end = utf8.find('\n', start);
            if (end == std::string::npos) end = utf8.size();
            std::string line = utf8.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) {
                curl_slist* grown = curl_slist_append(t->headers, line.c_str());
                if (!grown) return false;
                t->headers = grown;
            }
            start = end + 1;
        }
        if (t->headers && curl_easy_setopt(t->easy, CURLOPT_HTTPHEADER, t->headers) != CURLE_OK)
            return false;
    }
    if (optional != nullptr && optionalLength != 0) {
        if (curl_easy_setopt(t->easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(optionalLength)) !=
                CURLE_OK ||
            curl_easy_setopt(t->easy, CURLOPT_COPYPOSTFIELDS, optional) != CURLE_OK)
            return false;
        // Setting a body turns the request into a POST; keep the named verb.
        if (t->verb != "POST" &&
            curl_easy_setopt(t->easy, CURLOPT_CUSTOMREQUEST, t->verb.c_str()) != CURLE_OK)
            return false;
    }

    if (curl_multi_add_handle(t->multi, t->easy) != CURLM_OK) return false;
    t->added = true;
    t->sent = true;
    t->Pump([t] { return t->headersDone; });
    if (!t->headersDone) return false;
    if (t->status == 0) {
        long code = 0;
        curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &code);
        t->status = static_cast<std::uint32_t>(code);
    }
    return t->status != 0;
}

bool HttpClient::QueryStatusCode(std::uint32_t& code) const {
    const Transfer* t = transfer_.get();
    if (!t || !t->headersDone || t->status == 0) return false;
    code = t->status;
    return true;
}

std::string HttpClient::ReadBytes(int maxBytes) {
    std::string out;
    Transfer* t = transfer_.get();
    if (!t || !t->headersDone) return out;
    long long left = maxBytes;
    for (;;) {
        t->Pump([t] { return t->Available() >= kHttpChunkSize; });
        const std::size_t n = std::min(kHttpChunkSize, t->Available());
        if (n == 0) break;
        out.append(t->pending, t->pendingOffset, n);
        t->pendingOffset += n;
        if (maxBytes > 0) {
            left -= static_cast<long long>(n);
            if (left < 1) break;
        }
    }
    return out;
}

std::u16string HttpClient::ReadText(std::uint32_t codePage, int maxBytes) {
    std::string bytes = ReadBytes(maxBytes);
    if (const std::size_t zero = bytes.find('\0'); zero != std::string::npos) bytes.resize(zero);
    std::u16string text;
    if (bytes.empty()) return text;

    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(codePage == kCodePageUtf7 ? "UTF-7" : "UTF-8", &status);
    if (U_FAILURE(status)) {
        if (transfer_) transfer_->decodeFailed = true;
        return text;
    }
    // Every byte gives at most one UTF-16 unit in both charsets.
    std::vector<UChar> buffer(bytes.size() + 1);
    const int32_t length =
        ucnv_toUChars(converter, buffer.data(), static_cast<int32_t>(buffer.size()), bytes.data(),
                      static_cast<int32_t>(bytes.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status)) {
        if (transfer_) transfer_->decodeFailed = true;
        return text;
    }
    text.assign(buffer.data(), static_cast<std::size_t>(length));
    return text;
}

bool HttpClient::BodyComplete() const {
    const Transfer* t = transfer_.get();
    return t && t->done && t->result == CURLE_OK && t->Available() == 0 && !t->decodeFailed;
}

}  // namespace morix
