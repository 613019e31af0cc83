#include "net/Exchange.h"

#include <Poco/Logger.h>
#include <Poco/Net/HTTPRequestHandler.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "front/HttpErrors.h"
#include "net/QuickHandler.h"
#include "net/message/HttpsRedirect.h"
#include "net/message/ServerRequest.h"
#include "net/message/ServerResponse.h"
#include "orvane/Dispatcher.h"

namespace Orvane {
namespace Host {

using Poco::Net::HTTPResponse;

namespace {

// A small answer written on the thread its reply reached never waits
// long for a client: past this the connection is cut.
const std::chrono::seconds kParkedStall(2);

// Holds a forwarded client's place under the per-address cap while its
// request is served.
class ProxiedSlot {
public:
    ProxiedSlot(AddressCaps& caps, const ClientOrigin& origin, const Connection& connection)
        : m_caps(caps) {
        if (origin.viaProxy && !(origin.address.host() == connection.peer().host()))
            m_address = origin.address.host().toString();
        m_held = m_address.empty() || m_caps.admitRequest(m_address);
    }
    ~ProxiedSlot() {
        if (m_held && !m_address.empty())
            m_caps.releaseRequest(m_address);
    }
    bool held() const { return m_held; }

private:
    AddressCaps& m_caps;
    std::string m_address;
    bool m_held = false;
};

}  // namespace

// One request with its connection, on the heap so that an answer left for
// later can be written from another thread. Of the two events that may
// end a parked answer (the handler's thread leaving it, the answer being
// ready) the second one goes on.
class Exchange::Step {
public:
    Step(Exchange& e, std::unique_ptr<Connection> c)
        : exchange(e),
          pool(*e.m_setup.pool),
          connection(std::move(c)),
          io(*connection, e.m_setup.limits->sendStallSeconds),
          request(io, *e.m_setup.limits, *e.m_params),
          response(io, request) {
        request.setResponse(response);
        std::lock_guard<std::mutex> lock(exchange.m_stepsMutex);
        ++exchange.m_steps;
    }
    ~Step() {
        if (connection)
            pool.leave(connection.get());  // dropped unanswered: the host is stopping
        // The last use of the exchange, which may go as soon as none is left.
        std::lock_guard<std::mutex> lock(exchange.m_stepsMutex);
        if (--exchange.m_steps == 0)
            exchange.m_noSteps.notify_all();
    }

    Exchange& exchange;
    WorkerPool& pool;
    std::unique_ptr<Connection> connection;
    ConnectionIo io;
    ServerRequest request;
    ServerResponse response;
    std::unique_ptr<ProxiedSlot> slot;
    bool answered = false;  // by the exchange itself, before any handler
    bool quick = false;     // begun on the listener's thread
    std::atomic<int> toGo{2};
    std::function<void()> write;
    bool small = false;
};

Exchange::Exchange(const Setup& setup) : m_setup(setup), m_params(new Poco::Net::HTTPServerParams) {
    m_params->setServerName("orvane-host");
    m_params->setKeepAlive(true);
    m_params->setKeepAliveTimeout(Poco::Timespan(setup.limits->keepAliveIdleSeconds, 0));
    m_params->setTimeout(Poco::Timespan(setup.limits->sendStallSeconds, 0));
}

void Exchange::waitIdle() {
    std::unique_lock<std::mutex> lock(m_stepsMutex);
    m_noSteps.wait(lock, [this] { return m_steps == 0; });
}

void Exchange::serve(std::unique_ptr<Connection> connection) {
    while (connection) {
        StepPtr step;
        try {
            step = std::make_shared<Step>(*this, std::move(connection));
        } catch (...) {
            if (connection)
                m_setup.pool->leave(connection.get());
            return;
        }
        if (begin(step) != Began::Answered)
            return;  // its answer comes later, and ends it
        connection = end(*step);
    }
}

void Exchange::dispatch(std::unique_ptr<Connection> connection) {
    if (!quickCandidate(*connection)) {
        m_setup.pool->submit(std::move(connection));
        return;
    }
    if (!m_setup.pool->enter(connection.get()))
        return;  // stopping: closed here
    Connection* raw = connection.get();
    StepPtr step;
    try {
        step = std::make_shared<Step>(*this, std::move(connection));
    } catch (...) {
        m_setup.pool->leave(raw);
        return;
    }
    // The listener never waits for a client: what it writes itself (a
    // refusal) leaves at once or the connection goes.
    step->quick = true;
    step->io.setStall(std::chrono::seconds(0));
    if (begin(step) == Began::Answered)
        toWorker(end(*step));
}

bool Exchange::quickCandidate(Connection& connection) {
    if (connection.kind() == Connection::Kind::Redirect || connection.plainOnTlsPort)
        return false;
    const std::string_view head(connection.bufferedData(), connection.headLength());
    if (head.compare(0, 9, "GET /app/") != 0 && head.compare(0, 10, "HEAD /app/") != 0)
        return false;
    // A body to read, a continue to send, or a guest's session (looked up
    // in the guests' database) needs a worker.
    for (std::string_view needs :
         {"\ncontent-length:", "\ntransfer-encoding:", "\nexpect:", "orvane_guest="}) {
        const auto found = std::search(
            head.begin(), head.end(), needs.begin(), needs.end(), [](char a, char lower) {
                return std::tolower(static_cast<unsigned char>(a)) == lower;
            });
        if (found != head.end())
            return false;
    }
    return true;
}

Exchange::Began Exchange::begin(const StepPtr& step) {
    Step& s = *step;
    Connection& connection = *s.connection;
    s.answered = true;
    try {
        s.request.parse(connection.takeHead());
    } catch (const Poco::Exception& e) {
        Poco::Logger::get("HttpFront").debug("Unreadable request: " + e.displayText());
        answerOnly(s.response, HTTPResponse::HTTP_BAD_REQUEST, "The request could not be read.");
        return Began::Answered;
    }
    s.request.setOrigin(
        m_setup.proxies->resolve(connection.peer(), connection.ssl() != nullptr, s.request));
    s.response.prepare(!m_setup.stopping->load() && !connection.plainOnTlsPort);
    s.slot.reset(new ProxiedSlot(*m_setup.caps, s.request.origin(), connection));
    if (!s.slot->held()) {
        answerOnly(s.response, HTTPResponse::HTTP_TOO_MANY_REQUESTS,
                   "Too many connections from your address.");
        return Began::Answered;
    }
    s.answered = false;
    Poco::Net::HTTPRequestHandler* handler = nullptr;
    try {
        handler = handlerFor(s.request, connection);
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront")
            .warning("Request " + s.request.getURI() + " failed: " + e.what());
    }
    if (s.quick && handler && !dynamic_cast<QuickHandler*>(handler)) {
        // Not one for the listener: a worker runs it.
        StepPtr held = step;
        std::shared_ptr<Poco::Net::HTTPRequestHandler> owned(handler);
        s.quick = false;
        s.io.setStall(std::chrono::seconds(m_setup.limits->sendStallSeconds));
        m_setup.pool->post([this, held, owned] {
            if (runHandler(held, owned.get()) == Began::Answered) {
                std::unique_ptr<Connection> next = end(*held);
                if (next)
                    serve(std::move(next));
            }
        });
        return Began::HandedOver;
    }
    std::unique_ptr<Poco::Net::HTTPRequestHandler> owned(handler);
    return runHandler(step, handler);
}

Exchange::Began Exchange::runHandler(const StepPtr& step, Poco::Net::HTTPRequestHandler* handler) {
    Step& s = *step;
    offerParking(step);
    run(s.request, s.response, *s.connection, handler);
    if (!s.response.parked())
        return Began::Answered;
    if (--s.toGo > 0)
        return Began::Parked;
    // The answer was ready before the handler's thread left it.
    if (s.quick) {
        resume(step);  // the listener writes no answer of a plug-in
        return Began::Parked;
    }
    writeParked(s);
    return Began::Answered;
}

void Exchange::offerParking(const StepPtr& step) {
    std::weak_ptr<Step> weak = step;
    step->response.offerParking([this, weak]() -> ServerResponse::Parked {
        StepPtr held = weak.lock();
        return [this, held](std::function<void()> write, bool small) {
            held->write = std::move(write);
            held->small = small;
            if (--held->toGo == 0)
                resume(held);
        };
    });
}

void Exchange::resume(const StepPtr& step) {
    // A deferred worker may write a small answer that leaves at once; any
    // other answer, or on any other thread, is a task for the pool.
    if (step->small && Orvane::onDeferredWorker() && step->io.drained()) {
        step->io.setStall(kParkedStall);
        complete(step);
        return;
    }
    StepPtr held = step;
    held->io.setStall(std::chrono::seconds(m_setup.limits->sendStallSeconds));
    m_setup.pool->post([this, held] { complete(held); });
}

void Exchange::complete(const StepPtr& step) {
    writeParked(*step);
    toWorker(end(*step));
}

void Exchange::toWorker(std::unique_ptr<Connection> next) {
    // A request that came along behind is served by a worker, whose thread
    // may wait for its body.
    if (!next)
        return;
    m_setup.pool->leave(next.get());
    m_setup.pool->submit(std::move(next));
}

void Exchange::writeParked(Step& step) {
    try {
        step.write();
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront")
            .warning("Request " + step.request.getURI() + " failed: " + e.what());
        step.connection->markBroken();
    }
    if (!step.response.sent() && !step.connection->broken()) {
        step.response.setKeepAlive(false);
        try {
            HttpErrors::send(step.response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
        } catch (const Poco::Exception&) {
        }
    }
}

std::unique_ptr<Connection> Exchange::end(Step& step) {
    bool keep = false;
    if (!step.answered) {
        const bool finished = step.response.finish();
        keep = step.request.finishBody() && finished;
    }
    std::unique_ptr<Connection> connection = std::move(step.connection);
    keep = keep && !m_setup.stopping->load();
    if (keep) {
        // A pipelined request already here is served at once.
        const std::size_t next = connection->headLength();
        if (next > 0 && next <= m_setup.limits->headerMaxBytes)
            return connection;
        keep = next == 0;
    }
    m_setup.pool->leave(connection.get());
    m_setup.done(std::move(connection), keep);
    return nullptr;
}

bool Exchange::answerOnly(ServerResponse& response, int status, const std::string& detail) {
    response.setVersion(HTTPResponse::HTTP_1_1);
    response.setKeepAlive(false);
    try {
        HttpErrors::send(response, status, detail);
        response.finish();
    } catch (const Poco::Exception&) {
    }
    return true;
}

void Exchange::run(ServerRequest& request, ServerResponse& response, Connection& connection,
                   Poco::Net::HTTPRequestHandler* handler) {
    try {
        if (handler)
            handler->handleRequest(request, response);
    } catch (const std::exception& e) {
        Poco::Logger::get("HttpFront")
            .warning("Request " + request.getURI() + " failed: " + e.what());
        if (response.sent())
            connection.markBroken();  // the answer is cut short
    }
    if (response.sent() || response.parked() || connection.broken())
        return;
    // A handler that answered nothing is a fault, never a success.
    response.setKeepAlive(false);
    try {
        HttpErrors::send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR);
    } catch (const Poco::Exception&) {
    }
}

Poco::Net::HTTPRequestHandler* Exchange::handlerFor(ServerRequest& request,
                                                    Connection& connection) {
    if (connection.kind() == Connection::Kind::Redirect)
        return new HttpsRedirect(m_setup.tlsPort, m_setup.publicUrl, false);
    if (connection.plainOnTlsPort)
        return new HttpsRedirect(connection.local().port(), m_setup.publicUrl, true);
    return m_setup.router->createRequestHandler(request);
}

}  // namespace Host
}  // namespace Orvane
