// What a worker does with a connection whose header is complete: builds
// the request and answer over it, finds the client through the trusted
// proxies, picks the handler (the router's, or the HTTPS redirect on the
// redirect port and for plain HTTP on the TLS port), runs it and ends the
// answer; then the next request if one is already read, else the
// connection goes back to wait. Shared by the workers; const after setup.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>

#include <atomic>
#include <string>

#include "net/AddressCaps.h"
#include "net/Connection.h"
#include "net/ConnectionIo.h"
#include "net/FrontLimits.h"
#include "net/TrustedProxies.h"

namespace Orvane {
namespace Host {

class ServerRequest;
class ServerResponse;

class Exchange {
public:
    struct Setup {
        const FrontLimits* limits = nullptr;
        const TrustedProxies* proxies = nullptr;
        AddressCaps* caps = nullptr;
        Poco::Net::HTTPRequestHandlerFactory* router = nullptr;
        int tlsPort = 0;        // where the redirect port sends clients
        std::string publicUrl;  // host.properties' public.url
        const std::atomic<bool>* stopping = nullptr;
    };

    explicit Exchange(const Setup& setup);

    // Serves every request whose header is at hand; true when the
    // connection can wait for another.
    bool serve(Connection& connection);

private:
    bool serveOne(ConnectionIo& io, const std::string& head);
    bool answerOnly(ServerResponse& response, int status, const std::string& detail);
    void run(ServerRequest& request, ServerResponse& response, Connection& connection);
    Poco::Net::HTTPRequestHandler* handlerFor(ServerRequest& request, Connection& connection);

    Setup m_setup;
    Poco::Net::HTTPServerParams::Ptr m_params;
};

}  // namespace Host
}  // namespace Orvane
