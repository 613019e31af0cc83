// Builds the JSON objects the owner console endpoints answer with: one
// object, its fields added in order, strings escaped (quotes, backslashes,
// control characters; other bytes, UTF-8 included, as they are). Value type,
// used on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Orvane {
namespace Host {

class OwnerJson {
public:
    OwnerJson& field(const std::string& name, const std::string& value);
    OwnerJson& field(const std::string& name, const char* value);
    OwnerJson& field(const std::string& name, std::int64_t value);
    OwnerJson& field(const std::string& name, int value);
    OwnerJson& field(const std::string& name, bool value);
    OwnerJson& null(const std::string& name);
    OwnerJson& object(const std::string& name, const OwnerJson& value);
    OwnerJson& array(const std::string& name, const std::vector<OwnerJson>& items);

    std::string str() const;

    // The text as a JSON string literal, quotes included.
    static std::string quote(const std::string& text);

private:
    OwnerJson& raw(const std::string& name, const std::string& json);

    std::string m_body;
};

}  // namespace Host
}  // namespace Orvane
