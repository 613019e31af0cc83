#include "HttpClient.h"

#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/StreamCopier.h>
#include <Poco/String.h>

namespace E2E {

HttpClient::HttpClient(int port) : m_port(port) {}

Answer HttpClient::get(const std::string& target,
                       const std::map<std::string, std::string>& headers) {
    return send("GET", target, "", headers);
}

Answer HttpClient::head(const std::string& target,
                        const std::map<std::string, std::string>& headers) {
    return send("HEAD", target, "", headers);
}

Answer HttpClient::post(const std::string& target, const std::string& body,
                        const std::map<std::string, std::string>& headers) {
    auto all = headers;
    if (!all.count("Content-Type"))
        all["Content-Type"] = "application/x-www-form-urlencoded";
    return send("POST", target, body, all);
}

Answer HttpClient::send(const std::string& method, const std::string& target,
                        const std::string& body,
                        const std::map<std::string, std::string>& headers) {
    if (!m_session) {
        m_session.reset(new Poco::Net::HTTPClientSession("127.0.0.1", m_port));
        m_session->setKeepAlive(true);
        m_session->setTimeout(Poco::Timespan(120, 0));
    }
    Poco::Net::HTTPRequest request(method, target, Poco::Net::HTTPMessage::HTTP_1_1);
    request.setKeepAlive(true);
    for (const auto& h : headers)
        request.set(h.first, h.second);
    if (!body.empty() || method == "POST")
        request.setContentLength(body.size());
    try {
        m_session->sendRequest(request) << body;
        Poco::Net::HTTPResponse response;
        std::istream& in = m_session->receiveResponse(response);
        Answer answer;
        answer.status = response.getStatus();
        if (method != "HEAD")
            Poco::StreamCopier::copyToString(in, answer.body);
        for (const auto& h : response) {
            const std::string name = Poco::toLower(h.first);
            if (name == "set-cookie")
                answer.cookies.push_back(h.second);
            answer.headers[name] = h.second;
        }
        return answer;
    } catch (...) {
        m_session.reset();
        throw;
    }
}

std::string cookieValue(const std::string& setCookie, const std::string& name) {
    const std::string prefix = name + "=";
    if (setCookie.compare(0, prefix.size(), prefix) != 0)
        return std::string();
    return setCookie.substr(prefix.size(), setCookie.find(';') - prefix.size());
}

bool cookieHas(const std::string& setCookie, const std::string& attribute) {
    return Poco::toLower(setCookie).find("; " + Poco::toLower(attribute)) != std::string::npos;
}

std::string xmlText(const std::string& xml, const std::string& tag) {
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    std::string::size_type start = xml.find(open);
    if (start == std::string::npos)
        return std::string();
    start += open.size();
    std::string::size_type end = xml.find(close, start);
    return end == std::string::npos ? std::string() : xml.substr(start, end - start);
}

}  // namespace E2E
