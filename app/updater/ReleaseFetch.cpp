#include "app/updater/ReleaseFetch.h"

#include "app/updater/UpdateFailure.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace Plovander {

namespace {

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using List = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

constexpr std::size_t writeBufferBytes = 65'536;

long statusOf(CURL* easy) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return status;
}

// Why a transfer was stopped from inside a callback.
enum class Stop { none, notOk, tooLarge, cancelled, fileFailed };

struct Transfer {
    Transfer(const ReleaseFetch::Options& givenOptions, CURL* handle) : options(givenOptions), easy(handle) {
        buffer.reserve(writeBufferBytes);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    const ReleaseFetch::Options& options;
    CURL* easy;
    Stop stop = Stop::none;
    std::string fileError;
    bool checkedHead = false;
    std::int64_t total = 0;
    int fd = -1;
    TessaloyCore::Bytes buffer;

    ~Transfer() {
        if (fd >= 0) ::close(fd);
    }

    bool flush() {
        std::size_t written = 0;
        while (written < buffer.size()) {
            const ssize_t count = ::write(fd, buffer.data() + written, buffer.size() - written);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) {
                fileError = std::strerror(errno);
                return false;
            }
            written += static_cast<std::size_t>(count);
        }
        buffer.clear();
        return true;
    }

    // The status and the announced length decide before anything is kept.
    bool acceptHead() {
        checkedHead = true;
        if (statusOf(easy) != 200) return (stop = Stop::notOk), false;
        curl_off_t announced = -1;
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > options.limit) return (stop = Stop::tooLarge), false;
        if (options.destination.empty()) return true;
        fd = ::open(options.destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            fileError = std::strerror(errno);
            return (stop = Stop::fileFailed), false;
        }
        return true;
    }

    std::size_t receive(const char* data, std::size_t size) {
        if (!checkedHead && !acceptHead()) return 0;
        total += static_cast<std::int64_t>(size);
        if (total > options.limit) return (stop = Stop::tooLarge), 0;
        buffer.insert(buffer.end(), data, data + size);
        if (fd >= 0 && buffer.size() >= writeBufferBytes && !flush()) return (stop = Stop::fileFailed), 0;
        return size;
    }

    // Throws what stopped the transfer from inside a callback, or libcurl's own failure.
    void throwIfFailed(CURLcode code) const {
        switch (stop) {
            case Stop::tooLarge:
                throw UpdateFailure(UpdateFailure::Kind::tooLarge);
            case Stop::cancelled:
                throw UpdateFailure(UpdateFailure::Kind::withdrawn);
            case Stop::fileFailed:
                throw std::runtime_error(fileError);
            case Stop::notOk:
                return;
            case Stop::none:
                break;
        }
        if (code != CURLE_OK) throw std::runtime_error(curl_easy_strerror(code));
    }

    // The body of a 200 answer: in memory, or written whole to its file.
    ReleaseFetch::Result body() {
        // A 200 answer with an empty body never reaches the body callback.
        if (!checkedHead && !acceptHead()) {
            if (stop == Stop::tooLarge) throw UpdateFailure(UpdateFailure::Kind::tooLarge);
            throw std::runtime_error(fileError);
        }
        if (fd >= 0 && !flush()) throw std::runtime_error(fileError);
        return {fd >= 0 ? TessaloyCore::Bytes{} : std::move(buffer), 200};
    }
};

std::size_t onBody(char* data, std::size_t, std::size_t size, void* transfer) {
    return static_cast<Transfer*>(transfer)->receive(data, size);
}

int onProgress(void* transfer, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& self = *static_cast<Transfer*>(transfer);
    if (self.options.cancelled && self.options.cancelled->load()) {
        self.stop = Stop::cancelled;
        return 1;
    }
    return 0;
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

using Url = std::unique_ptr<CURLU, decltype(&curl_url_cleanup)>;

// One part of a parsed URL; nullopt when the URL has none.
std::optional<std::string> partOf(CURLU* url, CURLUPart which) {
    char* text = nullptr;
    if (curl_url_get(url, which, &text, 0) != CURLUE_OK) return std::nullopt;
    std::string value(text);
    curl_free(text);
    return value;
}

// The URL to follow when `location` is https on `host` itself: no user or password, and no port
// but 443. Parsed as libcurl parses it, so what is checked is what would be contacted.
std::optional<std::string> allowedRedirect(const char* location, const std::string& host) {
    const Url url(curl_url(), curl_url_cleanup);
    if (!location || !url || curl_url_set(url.get(), CURLUPART_URL, location, 0) != CURLUE_OK) return std::nullopt;
    const auto givenHost = partOf(url.get(), CURLUPART_HOST);
    const auto port = partOf(url.get(), CURLUPART_PORT);
    if (partOf(url.get(), CURLUPART_SCHEME) != "https" || !givenHost ||
        strcasecmp(givenHost->c_str(), host.c_str()) != 0 || partOf(url.get(), CURLUPART_USER) ||
        partOf(url.get(), CURLUPART_PASSWORD) || (port && *port != "443")) {
        return std::nullopt;
    }
    return partOf(url.get(), CURLUPART_URL);
}

using Clock = std::chrono::steady_clock;

// What is left of the deadline of a fetch started at `started`; throws once it has passed. Means
// nothing, and never throws, when the fetch has no deadline.
Clock::duration timeLeft(const ReleaseFetch::Options& options, Clock::time_point started) {
    const auto left = options.deadline - (Clock::now() - started);
    if (options.deadline.count() > 0 && left <= Clock::duration::zero()) {
        throw std::runtime_error(curl_easy_strerror(CURLE_OPERATION_TIMEDOUT));
    }
    return left;
}

// One GET of the fetch: its libcurl handle, the lists the handle points to, and what it receives.
struct Request {
    Easy easy{curl_easy_init(), curl_easy_cleanup};
    List headers{nullptr, curl_slist_free_all};
    List connectTo{nullptr, curl_slist_free_all};
    Transfer transfer;

    // A GET of `url` that follows no redirect itself, over within `left` when the fetch has a
    // deadline.
    Request(const std::string& url, const ReleaseFetch::Options& options, Clock::duration left)
        : transfer(options, easy.get()) {
        if (!easy) throw std::runtime_error("couldn't start a transfer");
        CURL* handle = easy.get();
        if (options.bypassCaches) headers.reset(curl_slist_append(nullptr, "Cache-Control: no-cache"));
        curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, static_cast<long>(options.idleTimeout.count()));
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(options.idleTimeout.count()));
        if (options.deadline.count() > 0) {
            curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS,
                             static_cast<long>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        if (!options.userAgent.empty()) curl_easy_setopt(handle, CURLOPT_USERAGENT, options.userAgent.c_str());
        if (!options.testAuthorityFile.empty()) {
            curl_easy_setopt(handle, CURLOPT_CAINFO, options.testAuthorityFile.c_str());
        }
        if (!options.testConnectTo.empty()) {
            connectTo.reset(curl_slist_append(nullptr, options.testConnectTo.c_str()));
            curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectTo.get());
        }
    }

    void perform() { transfer.throwIfFailed(curl_easy_perform(easy.get())); }

    // Where the answer redirects to, when the fetch may follow it there; throws when it may not.
    std::string redirect(const ReleaseFetch::Options& options, int redirects) const {
        char* location = nullptr;
        curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &location);
        const auto next = allowedRedirect(location, options.expectedHost);
        if (redirects >= ReleaseFetch::maximumRedirects || !next) throw std::runtime_error("refused a redirect");
        return *next;
    }
};

} // namespace

ReleaseFetch::Result ReleaseFetch::fetch(const std::string& url, const Options& options) {
    globalInit();
    std::string current = url;
    const auto started = Clock::now();
    for (int redirects = 0;; ++redirects) {
        Request request(current, options, timeLeft(options, started));
        request.perform();
        const long status = statusOf(request.easy.get());
        if (status >= 300 && status < 400) {
            current = request.redirect(options, redirects);
            continue;
        }
        if (status != 200) return {{}, status};
        return request.transfer.body();
    }
}

} // namespace Plovander
