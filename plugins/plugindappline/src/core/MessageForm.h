// Reading a request message's parameters: the query string of its
// "HTTPRequest" section and a URL-encoded body in its raw data are both read
// as the query of a GET request for "/form?", so the two ways of calling an
// operation decode alike. Also the start of every answer to the sync proxy.
// Free functions without state; any thread.
#pragma once

#include <Poco/Net/HTMLForm.h>

#include <cstdint>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Dappline {

// A field of the "HTTPRequest" section; "" when the section or field is absent.
std::string requestField(const Data::MessagePtr& msg, const char* field);
// The "HTTPRequest" section has the field (even an empty one).
bool hasRequestField(const Data::MessagePtr& msg, const char* field);
// The raw data as text; "" without raw data.
std::string bodyText(const Data::MessagePtr& msg);
void loadForm(const std::string& text, Poco::Net::HTMLForm& form);
// The request's query string.
void loadQueryForm(const Data::MessagePtr& msg, Poco::Net::HTMLForm& form);
// The raw data; an empty body reads as no parameters.
void loadBodyForm(const Data::MessagePtr& msg, Poco::Net::HTMLForm& form);
// One parameter of the query string; "" when absent.
std::string queryValue(const Data::MessagePtr& msg, const std::string& name);
// The field as a number (atoi's reading); fallback when it is absent.
int intParam(const Poco::Net::HTMLForm& form, const std::string& name, int fallback);
std::int64_t int64Param(const Poco::Net::HTMLForm& form, const std::string& name,
                        std::int64_t fallback);
// Percent-decoded; a text that holds a bare "%" (a folder named "50% off")
// is taken as it is.
std::string decodedOrAsIs(const std::string& text);

// The request's sync token; "" when it has none (or there is no request).
std::string syncToken(const Data::MessagePtr& request);
// An empty answer to the sync proxy, tied to the request by its token.
Data::MessagePtr syncAnswer(const Data::MessagePtr& request);

}  // namespace Dappline
}  // namespace Orvane
