#include "services/ExplorerService.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/NetException.h>
#include <Poco/URI.h>

#include <exception>
#include <functional>
#include <map>

#include "orvane/Defs.h"
#include "orvane/Dispatcher.h"
#include "orvane/HTTPUtil.h"
#include "orvane/storage/SpaceFields.h"
#include "services/BusRequest.h"
#include "services/ExplorerOperations.h"

namespace Orvane {
namespace Host {

using namespace Orvane::Defs;

namespace {

const char* const TEXT_XML = "text/xml; charset=utf-8";
const char* const START_UPLOAD = "START_UPLOAD";

Poco::Logger& log() {
    return Poco::Logger::get("Explorer");
}

struct Result {
    bool success;
    std::string message;
};

typedef std::function<Result(const Poco::Net::HTMLForm&, const ExplorerShares&)> Operation;

void loadForm(const std::string& text, Poco::Net::HTMLForm& form) {
    form.load(Poco::Net::HTTPRequest(Poco::Net::HTTPRequest::HTTP_GET, "/form?" + text));
}

// The raw data as the plug-in read it: a form.
void loadBody(const Data::Message& msg, Poco::Net::HTMLForm& form) {
    const auto& raw = msg.getRawData();
    loadForm(raw ? raw->toString() : std::string(), form);
}

void loadQuery(const Data::Message& msg, Poco::Net::HTMLForm& form) {
    const Data::VariantRow* row = msg.findSection(HTTP::MS_HTTP_REQ);
    loadForm(row ? row->getString(HTTP::S_HTTP_REQ_REQUEST) : std::string(), form);
}

std::string param(const Poco::Net::HTMLForm& form, const std::string& name) {
    if (!form.has(name))
        throw ExplorerError(400, "The parameter " + name + " is missing");
    return form.get(name);
}

std::string checkedParam(const Poco::Net::HTMLForm& form, const std::string& name) {
    return ExplorerOperations::checkedPath(param(form, name));
}

Result done(const std::string& message) {
    return Result{true, message};
}

// The shares the plug-in named beside its mark.
ExplorerShares sharesOf(const Data::Message& msg) {
    ExplorerShares shares;
    const Data::VariantRow* mark = msg.findSection(GuestAccess::MS_GUESTACCESS);
    if (!mark)
        return shares;
    shares.root = mark->getString(Space::S_SHARE_ROOT);
    shares.sourceRoot = mark->getString(Space::S_SOURCE_SHARE_ROOT);
    const std::string limit = mark->getString(Space::S_SIZE_LIMIT);
    shares.limit = limit.empty() ? 0 : Data::VariantField(limit).getInt64();
    return shares;
}

// Each reads exactly the parameters that the plug-in checked (and, for a
// rename, the new name, which must stay a plain name in the same folder).
const std::map<std::string, Operation>& operations() {
    typedef ExplorerOperations Op;
    typedef const Poco::Net::HTMLForm& Form;
    typedef const ExplorerShares& Shares;
    static const std::map<std::string, Operation> table = {
        {"createfolder",
         [](Form f, Shares) { return done(Op::createFolder(checkedParam(f, "path"))); }},
        {"renamefile",
         [](Form f, Shares) {
             return done(Op::rename(checkedParam(f, "path"), param(f, "name")));
         }},
        {"deletefile",
         [](Form f, Shares s) { return done(Op::remove(checkedParam(f, "path"), s)); }},
        {"copyfile",
         [](Form f, Shares s) {
             return done(Op::copy(checkedParam(f, "path"), checkedParam(f, "copyto"), s));
         }},
        {"renameormove",
         [](Form f, Shares s) {
             return done(Op::move(checkedParam(f, "fromname"), checkedParam(f, "toname"), s));
         }},
        {"fileexists",
         [](Form f, Shares) {
             // The plug-in checked the decoded value.
             std::string file;
             Poco::URI::decode(param(f, "file"), file);
             const bool there = Op::exists(Op::checkedPath(file));
             return Result{there, there ? "The file exists" : "The file does not exist"};
         }},
    };
    return table;
}

// Posts the "SYNC" answer for the request's token; `allow` of -1 leaves the
// upload fields out. An allowed upload names the share it is stored against.
void answer(const ExplorerService::MessagePtr& request, int status, const std::string& body,
            int allow = -1, const std::string& folder = std::string()) {
    ExplorerService::MessagePtr reply =
        BusRequest::reply(*request, Service::EXPLORER, status, TEXT_XML);
    if (allow >= 0) {
        Data::VariantRow& resp = (*reply)[HTTP::MS_HTTP_RESP];
        resp[HTTP::S_HTTP_RESP_ALLOW] = allow;
        resp[HTTP::S_HTTP_RESP_DIRNAME] = folder;
        if (allow == 1) {
            const ExplorerShares shares = sharesOf(*request);
            resp[Space::S_SHARE_ROOT] = shares.root;
            resp[Space::S_SIZE_LIMIT] = static_cast<long long>(shares.limit);
        }
    }
    reply->setRawData(body);
    Orvane::Dispatcher()->postMessage(reply);
}

}  // namespace

ExplorerService::ExplorerService() : m_registration(Service::EXPLORER) {}

void ExplorerService::start() {
    m_registration.start([this](MessagePtr& msg) { onMessage(msg); });
}

void ExplorerService::stop() {
    m_registration.stop();
}

void ExplorerService::onMessage(MessagePtr& msg) {
    if (!msg)
        return;
    if (msg->operation == START_UPLOAD)
        answerUpload(msg);
    else
        answerOperation(msg);
}

void ExplorerService::answerOperation(MessagePtr& msg) {
    const std::string& op = msg->operation;
    try {
        auto operation = operations().find(op);
        if (operation == operations().end())
            throw ExplorerError(404, "Unknown operation");
        if (!BusRequest::isAllowed(*msg))
            throw ExplorerError(403, "Access denied");
        Poco::Net::HTMLForm form;
        loadBody(*msg, form);
        const Result result = operation->second(form, sharesOf(*msg));
        answer(msg, 200, Util::HTTP::getXMLResult(op, result.success, result.message));
    } catch (const ExplorerError& e) {
        answer(msg, e.status, Util::HTTP::getXMLResult(op, false, e.what()));
    } catch (const Poco::Net::HTMLFormException&) {
        answer(msg, 400, Util::HTTP::getXMLResult(op, false, "The request could not be read"));
    } catch (const Poco::SyntaxException&) {
        answer(msg, 400, Util::HTTP::getXMLResult(op, false, "The request could not be read"));
    } catch (const Poco::Exception& e) {
        log().error(op + ": " + e.displayText());
        answer(msg, 500, Util::HTTP::getXMLResult(op, false, "The operation failed"));
    } catch (const std::exception& e) {
        log().error(op + ": " + e.what());
        answer(msg, 500, Util::HTTP::getXMLResult(op, false, "The operation failed"));
    }
}

// The upload path stores the files itself; it needs the yes and the folder.
void ExplorerService::answerUpload(MessagePtr& msg) {
    try {
        if (!BusRequest::isAllowed(*msg)) {
            const Data::VariantRow* mark = msg->findSection(GuestAccess::MS_GUESTACCESS);
            if (mark && mark->getString(Space::S_SIZE_LIMIT_EXCEEDED) == Defaults::TRUEVAL)
                throw ExplorerError(403, "Unable to upload file(s). Size Limit Exceeded");
            throw ExplorerError(403, "Access denied");
        }
        Poco::Net::HTMLForm query;
        loadQuery(*msg, query);
        const std::string folder = ExplorerOperations::checkedPath(param(query, "path"));
        ExplorerOperations::checkFolder(folder);
        answer(msg, 200, Util::HTTP::getXMLResult("upload", true, "Upload allowed"), 1, folder);
    } catch (const ExplorerError& e) {
        const int status = e.status == 200 ? 404 : e.status;
        answer(msg, status, Util::HTTP::getXMLResult("upload", false, e.what()), 0);
    } catch (const std::exception& e) {
        log().error(std::string("START_UPLOAD: ") + e.what());
        answer(msg, 500, Util::HTTP::getXMLResult("upload", false, "The upload failed"), 0);
    }
}

}  // namespace Host
}  // namespace Orvane
