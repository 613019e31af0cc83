// The shape every owner operation shares: read the request's form, make the
// answer from it, and answer with a fixed fallback when reading fails in the
// ways the operation expects (a missing field, any library error, any error
// at all); other failures pass on to the operation table. Free functions
// without state; any thread.
#pragma once

#include <Poco/Net/HTMLForm.h>

#include <functional>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Dappline {

enum class FormSource { Query, Body };
// Which failures give the fallback answer.
enum class Fallback { OnMissingField, OnPocoError, OnAnyError };

typedef std::function<std::string(const Poco::Net::HTMLForm&)> FormReader;
typedef std::function<bool(const Poco::Net::HTMLForm&)> FormAction;

// What read makes of the form, or fallback. Library errors are logged under
// handler when one is named.
std::string answerFromForm(const Data::MessagePtr& msg, FormSource source, Fallback when,
                           const std::string& fallback, const FormReader& read,
                           const std::string& handler = "");
// The XML result of operation: what act says, or failure as above.
std::string resultFromForm(const Data::MessagePtr& msg, FormSource source, Fallback when,
                           const std::string& operation, const FormAction& act,
                           const std::string& handler = "");

}  // namespace Dappline
}  // namespace Orvane
