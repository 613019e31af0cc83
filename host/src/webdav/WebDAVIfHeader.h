// The If header of WebDAV requests: lists of conditions (lock tokens and
// entity tags, each possibly negated), untagged or tagged with a resource.
// Parsing is pure; evaluation asks a callback about each resource. Used on
// the request's own thread.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orvane {
namespace Host {

class BadIfHeader : public std::runtime_error {
public:
    explicit BadIfHeader(const std::string& why) : std::runtime_error(why) {}
};

class WebDAVIfHeader {
public:
    struct Condition {
        bool negated = false;
        bool isToken = true;
        std::string value;  // the token, or the entity tag with its quotes
    };
    struct List {
        std::string resource;  // the tag's URL, "" for the request's own resource
        std::vector<Condition> conditions;
    };
    // Answers one condition about a resource ("" = the request's resource).
    typedef std::function<bool(const std::string& resource, const Condition&)> Judge;

    WebDAVIfHeader() = default;
    // Throws BadIfHeader for text that does not follow the grammar.
    explicit WebDAVIfHeader(const std::string& header);

    bool empty() const { return m_lists.empty(); }
    // Every lock token named anywhere in the header.
    std::vector<std::string> tokens() const;
    // True when at least one list holds only true conditions.
    bool holds(const Judge& judge) const;

private:
    void parseList(const std::string& text, std::size_t& pos, const std::string& resource);

    std::vector<List> m_lists;
};

}  // namespace Host
}  // namespace Orvane
