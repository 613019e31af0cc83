// HTTP-side helpers: the XML result text, content types by file name, and
// putting bytes into an answer. Thread-safe.
#pragma once

#include <boost/shared_ptr.hpp>
#include <string>

#include "orvane/Message.h"

namespace Orvane {
namespace Util {
namespace HTTP {

// <result><operation>OP</operation><success>1|0</success><message>MSG</message></result>
std::string getXMLResult(const std::string& operation, bool success, const std::string& message);
// By lower-cased extension; application/octet-stream when unknown.
std::string getHTTPContentType(const std::string& fileName);
// Sets the raw data and the answer's content type.
void loadRawData(boost::shared_ptr<Data::Message>& msg, const std::string& data,
                 const std::string& contentType);

}  // namespace HTTP
}  // namespace Util
}  // namespace Orvane
