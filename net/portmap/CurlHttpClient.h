#pragma once

#include "net/portmap/HttpClient.h"

namespace TessaloyNet {

// HTTP over libcurl's easy interface, one connection per call.
class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient();

    std::optional<Reply> get(const std::string& url) override;
    std::optional<Reply> post(const std::string& url, const std::vector<std::string>& headers, const std::string& body,
                              std::chrono::seconds timeout) override;
};

} // namespace TessaloyNet
