#include "webdav/WebDAVIfHeader.h"

namespace Orvane {
namespace Host {

namespace {

void skipSpace(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
        ++pos;
}

std::string until(const std::string& text, std::size_t& pos, char end) {
    const std::size_t close = text.find(end, pos);
    if (close == std::string::npos)
        throw BadIfHeader(std::string("missing '") + end + "'");
    std::string value = text.substr(pos, close - pos);
    pos = close + 1;
    return value;
}

}  // namespace

WebDAVIfHeader::WebDAVIfHeader(const std::string& header) {
    std::size_t pos = 0;
    std::string resource;
    for (;;) {
        skipSpace(header, pos);
        if (pos >= header.size())
            break;
        if (header[pos] == '<') {
            ++pos;
            resource = until(header, pos, '>');
            skipSpace(header, pos);
            if (pos >= header.size() || header[pos] != '(')
                throw BadIfHeader("a resource tag without a list");
        } else if (header[pos] != '(') {
            throw BadIfHeader("a list must begin with '('");
        }
        parseList(header, pos, resource);
    }
    if (m_lists.empty())
        throw BadIfHeader("no list");
}

void WebDAVIfHeader::parseList(const std::string& text, std::size_t& pos,
                               const std::string& resource) {
    ++pos;  // '('
    List list;
    list.resource = resource;
    for (;;) {
        skipSpace(text, pos);
        if (pos >= text.size())
            throw BadIfHeader("an unclosed list");
        if (text[pos] == ')') {
            ++pos;
            break;
        }
        Condition c;
        if (text.compare(pos, 3, "Not") == 0) {
            c.negated = true;
            pos += 3;
            skipSpace(text, pos);
        }
        if (pos < text.size() && text[pos] == '<') {
            ++pos;
            c.value = until(text, pos, '>');
        } else if (pos < text.size() && text[pos] == '[') {
            ++pos;
            c.isToken = false;
            c.value = until(text, pos, ']');
        } else {
            throw BadIfHeader("a condition must be a <token> or an [etag]");
        }
        list.conditions.push_back(c);
    }
    if (list.conditions.empty())
        throw BadIfHeader("an empty list");
    m_lists.push_back(list);
}

std::vector<std::string> WebDAVIfHeader::tokens() const {
    std::vector<std::string> out;
    for (const List& list : m_lists) {
        for (const Condition& c : list.conditions) {
            if (c.isToken)
                out.push_back(c.value);
        }
    }
    return out;
}

bool WebDAVIfHeader::holds(const Judge& judge) const {
    for (const List& list : m_lists) {
        bool all = true;
        for (const Condition& c : list.conditions) {
            if (judge(list.resource, c) == c.negated) {
                all = false;
                break;
            }
        }
        if (all)
            return true;
    }
    return false;
}

}  // namespace Host
}  // namespace Orvane
