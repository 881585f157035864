#pragma once

#include <string>

// The address a rate limit counts a client by. The connection's own address, unless it comes
// from this machine's reverse proxy: then the last address the proxy appended to
// X-Forwarded-For (what comes before it is the client's own word). An IPv6 client is counted
// by its /64, the block one household or office gets, so that it cannot step through its own
// addresses.
namespace lab {

// Whether `address` (as the socket reports it) is this machine: 127.0.0.0/8, ::1 or
// ::ffff:127.x.x.x.
bool IsLoopback(const std::string& address);

// The key a rate limit counts `peer` by; `forwardedFor` is the X-Forwarded-For header (empty
// when none). The header is believed only when `behindProxy` is set and `peer` is loopback.
std::string ClientAddress(const std::string& peer, const std::string& forwardedFor,
                          bool behindProxy);

}  // namespace lab
