// Query strings and URL-encoded bodies as the plug-in reads its parameters:
// any text is read or refused with an exception the handlers catch, and
// fields encoded by a browser come back as they were.
#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/URI.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "FuzzCheck.h"
#include "core/MessageForm.h"
#include "orvane/Defs.h"
#include "orvane/MessageUtil.h"

namespace Dappline = Orvane::Dappline;

namespace {

std::string encoded(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "!#$&'()*+,/:;=?@[]%", out);
    return out;
}

void readAnyText(const std::string& text) {
    try {
        Poco::Net::HTMLForm form;
        Dappline::loadForm(text, form);
    } catch (const Poco::Exception&) {
        // Refused: the handlers answer with their error page.
    }
    try {
        auto msg = Orvane::Util::MessageUtil::createNewMessage("dapplinepro", "share/a/");
        (*msg)[Orvane::Defs::HTTP::MS_HTTP_REQ][Orvane::Defs::HTTP::S_HTTP_REQ_REQUEST] = text;
        Dappline::queryValue(msg, "vm");
    } catch (const Poco::Exception&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    readAnyText(fuzzText(data, size));

    FuzzedDataProvider in(data, size);
    std::vector<std::pair<std::string, std::string>> fields;
    std::string query;
    // Poco's forms refuse more than 100 fields.
    while (in.remaining_bytes() > 0 && fields.size() < 50) {
        std::string name = in.ConsumeRandomLengthString(16);
        std::string value = in.ConsumeRandomLengthString(64);
        if (name.empty())
            continue;
        query += (query.empty() ? "" : "&") + encoded(name) + "=" + encoded(value);
        fields.emplace_back(name, value);
    }
    Poco::Net::HTMLForm form;
    Dappline::loadForm(query, form);
    std::vector<std::pair<std::string, std::string>> read(form.begin(), form.end());
    std::sort(fields.begin(), fields.end());
    std::sort(read.begin(), read.end());
    FUZZ_CHECK(read == fields, "encoded fields came back changed");
    return 0;
}
