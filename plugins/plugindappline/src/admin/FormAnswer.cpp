#include "admin/FormAnswer.h"

#include <Poco/Exception.h>
#include <Poco/Logger.h>

#include "core/MessageForm.h"
#include "orvane/HTTPUtil.h"

namespace Orvane {
namespace Dappline {

namespace {

bool isMissingField(const Poco::Exception& e) {
    return dynamic_cast<const Poco::NotFoundException*>(&e) != nullptr;
}

}  // namespace

std::string answerFromForm(const Data::MessagePtr& msg, FormSource source, Fallback when,
                           const std::string& fallback, const FormReader& read,
                           const std::string& handler) {
    try {
        Poco::Net::HTMLForm form;
        if (source == FormSource::Query)
            loadQueryForm(msg, form);
        else
            loadBodyForm(msg, form);
        return read(form);
    } catch (const Poco::Exception& e) {
        if (when == Fallback::OnMissingField && !isMissingField(e))
            throw;
        if (!handler.empty()) {
            Poco::Logger::get("Dapplinepro")
                .error(handler + " - Caught unhandled Poco exception [" + e.message() + "]");
        }
        return fallback;
    } catch (...) {
        if (when != Fallback::OnAnyError)
            throw;
        return fallback;
    }
}

std::string resultFromForm(const Data::MessagePtr& msg, FormSource source, Fallback when,
                           const std::string& operation, const FormAction& act,
                           const std::string& handler) {
    return answerFromForm(
        msg, source, when, Util::HTTP::getXMLResult(operation, false, ""),
        [&](const Poco::Net::HTMLForm& form) {
            return Util::HTTP::getXMLResult(operation, act(form), "");
        },
        handler);
}

}  // namespace Dappline
}  // namespace Orvane
