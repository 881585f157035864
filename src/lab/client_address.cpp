#include "lab/client_address.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace lab {
namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// An IPv6 address as its /64 ("2001:db8:1:2::/64"), an IPv4 one (also IPv4-mapped) as itself;
// anything that is no address as it came.
std::string Counted(const std::string& address) {
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(v6.s6_addr, kMapped, sizeof kMapped) == 0) {
        char v4[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, v6.s6_addr + 12, v4, sizeof v4);
        return v4;
    }
    std::memset(v6.s6_addr + 8, 0, 8);
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &v6, text, sizeof text);
    return std::string(text) + "/64";
}

}  // namespace

bool IsLoopback(const std::string& address) {
    in_addr v4{};
    if (inet_pton(AF_INET, address.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return false;
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(v6.s6_addr, kMapped, sizeof kMapped) == 0) return v6.s6_addr[12] == 127;
    return IN6_IS_ADDR_LOOPBACK(&v6);
}

std::string ClientAddress(const std::string& peer, const std::string& forwardedFor,
                          bool behindProxy) {
    if (behindProxy && IsLoopback(peer)) {
        const size_t comma = forwardedFor.rfind(',');
        const std::string last =
            Trimmed(comma == std::string::npos ? forwardedFor : forwardedFor.substr(comma + 1));
        if (!last.empty()) return Counted(last);
    }
    return Counted(peer);
}

}  // namespace lab
