// An HTTP/1.1 (or EVENT/1.0) response from an accessory.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace device::hap {

struct HttpResponse {
    int status = 0;
    std::string reason;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool event = false;  // an EVENT/1.0 notification, not the answer to a request
};

}  // namespace device::hap
