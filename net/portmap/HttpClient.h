#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace TessaloyNet {

// The few HTTP calls of a UPnP gateway client. Both block their caller.
class HttpClient {
public:
    struct Reply {
        long status = 0;
        std::string body;
    };

    // Any host on the network may answer the search and name the URL: what a gateway device says
    // fits this many bytes, and a longer body is read no further.
    static constexpr std::size_t maximumBodyBytes = 64 * 1024;

    virtual ~HttpClient() = default;

    // Nothing on a transport error or a body past maximumBodyBytes; any status counts as a reply.
    virtual std::optional<Reply> get(const std::string& url) = 0;
    // `headers` are whole "Name: value" lines.
    virtual std::optional<Reply> post(const std::string& url, const std::vector<std::string>& headers,
                                      const std::string& body, std::chrono::seconds timeout) = 0;
};

} // namespace TessaloyNet
