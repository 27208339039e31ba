// The addresses and ports a scale address reaches now, for telling whether two addresses name one
// scale.
#include "asio/io_context.hpp"
#include "asio/ip/address.hpp"
#include "asio/ip/tcp.hpp"
#include "vudaduv_transport.h"

namespace vudaduv::transport {

namespace {

// "127.0.0.1:4001", "[::1]:4001".
std::string ShowEndpoint(const asio::ip::address& address, std::uint16_t port) {
    std::string host = address.to_string();
    return (address.is_v6() ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace

std::vector<std::string> ResolveEndpoints(const TargetAddress& address) {
    if (IsSerialLine(address)) return {SerialLineIdentity(address.device)};
    asio::error_code notNumeric;
    asio::ip::address numeric = asio::ip::make_address(address.host, notNumeric);
    if (!notNumeric) return {ShowEndpoint(numeric, address.port)};
    asio::io_context context;
    asio::ip::tcp::resolver resolver(context);
    asio::error_code unresolved;
    auto results = resolver.resolve(address.host, std::to_string(address.port),
                                    asio::ip::tcp::resolver::numeric_service, unresolved);
    std::vector<std::string> endpoints;
    if (unresolved) return endpoints;
    for (const auto& entry : results) {
        endpoints.push_back(ShowEndpoint(entry.endpoint().address(), address.port));
    }
    return endpoints;
}

}  // namespace vudaduv::transport
