// What a worker does with a connection whose header is complete: builds
// the request and answer over it, finds the client through the trusted
// proxies, picks the handler (the router's, or the HTTPS redirect on the
// redirect port and for plain HTTP on the TLS port), runs it and ends the
// answer; then the next request if one is already read, else the
// connection goes back to wait.
// A handler may leave its answer for later (ServerResponse::park): the
// request then holds its connection without a thread, and the answer is
// written by the thread its reply reaches when that is a deferred worker
// and the answer is small and can leave at once, else by a worker of the
// pool. Shared by the workers; const after setup.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "net/AddressCaps.h"
#include "net/Connection.h"
#include "net/ConnectionIo.h"
#include "net/FrontLimits.h"
#include "net/TrustedProxies.h"
#include "net/WorkerPool.h"

namespace Orvane {
namespace Host {

class ServerRequest;
class ServerResponse;

class Exchange {
public:
    using Done = std::function<void(std::unique_ptr<Connection>, bool keep)>;

    struct Setup {
        const FrontLimits* limits = nullptr;
        const TrustedProxies* proxies = nullptr;
        AddressCaps* caps = nullptr;
        Poco::Net::HTTPRequestHandlerFactory* router = nullptr;
        int tlsPort = 0;        // where the redirect port sends clients
        std::string publicUrl;  // host.properties' public.url
        const std::atomic<bool>* stopping = nullptr;
        WorkerPool* pool = nullptr;
        Done done;  // a served connection waits for its next request, or closes
    };

    explicit Exchange(const Setup& setup);

    // Serves every request whose header is at hand, on a worker of the pool.
    void serve(std::unique_ptr<Connection> connection);
    // On the listener's thread: a request that only posts to a plug-in and
    // parks its answer (a GET or HEAD without a body, for a QuickHandler)
    // is started right here; any other goes to a worker.
    void dispatch(std::unique_ptr<Connection> connection);
    // Until no request is left: one whose answer was left for later may
    // still be ending on another thread after the pool has stopped.
    void waitIdle();

private:
    class Step;
    typedef std::shared_ptr<Step> StepPtr;

    enum class Began { Answered, Parked, HandedOver };

    Began begin(const StepPtr& step);
    // The rest of begin() once a handler is chosen.
    Began runHandler(const StepPtr& step, Poco::Net::HTTPRequestHandler* handler);
    static bool quickCandidate(Connection& connection);
    // Ends the answer; the connection when its next request is at hand,
    // else it is given back (or closed) and null.
    std::unique_ptr<Connection> end(Step& step);
    bool answerOnly(ServerResponse& response, int status, const std::string& detail);
    void run(ServerRequest& request, ServerResponse& response, Connection& connection,
             Poco::Net::HTTPRequestHandler* handler);
    Poco::Net::HTTPRequestHandler* handlerFor(ServerRequest& request, Connection& connection);
    void offerParking(const StepPtr& step);
    void resume(const StepPtr& step);
    void complete(const StepPtr& step);
    // A connection whose next request is already read (or null).
    void toWorker(std::unique_ptr<Connection> next);
    static void writeParked(Step& step);

    Setup m_setup;
    Poco::Net::HTTPServerParams::Ptr m_params;
    std::mutex m_stepsMutex;
    std::condition_variable m_noSteps;
    long m_steps = 0;  // under m_stepsMutex
};

}  // namespace Host
}  // namespace Orvane
