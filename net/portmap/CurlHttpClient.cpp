#include "net/portmap/CurlHttpClient.h"

#include <curl/curl.h>

#include <memory>

namespace TessaloyNet {
namespace {

// What a description read may take when the device never answers.
constexpr long defaultTimeoutSeconds = 60;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Taking less than was given makes libcurl fail the transfer.
std::size_t collect(char* data, std::size_t size, std::size_t count, void* body) {
    auto& text = *static_cast<std::string*>(body);
    if (size * count > HttpClient::maximumBodyBytes - text.size()) return 0;
    text.append(data, size * count);
    return size * count;
}

std::unique_ptr<curl_slist, ListDeleter> headerList(const std::vector<std::string>& headers) {
    curl_slist* list = nullptr;
    for (const std::string& header : headers) {
        curl_slist* longer = curl_slist_append(list, header.c_str());
        if (!longer) {
            curl_slist_free_all(list);
            return nullptr;
        }
        list = longer;
    }
    return std::unique_ptr<curl_slist, ListDeleter>(list);
}

std::optional<HttpClient::Reply> perform(CURL* easy) {
    HttpClient::Reply reply;
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    if (curl_easy_perform(easy) != CURLE_OK) return std::nullopt;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &reply.status);
    return reply;
}

} // namespace

CurlHttpClient::CurlHttpClient() {
    // Thread-safe from libcurl 7.84 on; later calls only count.
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

std::optional<HttpClient::Reply> CurlHttpClient::get(const std::string& url) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return std::nullopt;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, defaultTimeoutSeconds);
    return perform(easy.get());
}

std::optional<HttpClient::Reply> CurlHttpClient::post(const std::string& url, const std::vector<std::string>& headers,
                                                      const std::string& body, std::chrono::seconds timeout) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    if (!easy) return std::nullopt;
    // An empty Expect keeps curl from waiting for a 100 Continue that small devices never send.
    std::vector<std::string> lines = headers;
    lines.emplace_back("Expect:");
    const auto list = headerList(lines);
    if (!list) return std::nullopt;
    curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, list.get());
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT, static_cast<long>(timeout.count()));
    return perform(easy.get());
}

} // namespace TessaloyNet
