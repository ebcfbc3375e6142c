#include "HttpRequest.h"

namespace device::hap {

std::string httpRequestText(std::string_view method, std::string_view path, const Endpoint& endpoint,
                            std::string_view contentType, std::string_view body) {
    std::string text;
    text.reserve(128 + body.size());
    text.append(method).append(" ").append(path).append(" HTTP/1.1\r\nHost: ").append(endpoint.text()).append("\r\n");
    if (!body.empty() || method == "PUT" || method == "POST") {
        text.append("Content-Type: ").append(contentType).append("\r\n");
        text.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    }
    text.append("\r\n").append(body);
    return text;
}

}  // namespace device::hap
