#include "orvane/Message.h"

#include <cstdlib>

namespace Orvane {
namespace Data {

std::int64_t VariantField::getInt64() const {
    return std::strtoll(m_value.c_str(), nullptr, 10);
}

std::string VariantRow::getString(const std::string& field) const {
    auto it = m_fields.find(field);
    return it == m_fields.end() ? std::string() : it->second.getString();
}

const VariantRow* Message::findSection(const std::string& section) const {
    auto it = m_sections.find(section);
    return it == m_sections.end() ? nullptr : &it->second;
}

void Message::setRawData(const char* bytes, std::size_t length) {
    m_rawData.reset(new RawData(bytes, length));
}

void Message::setRawData(std::string&& bytes) {
    m_rawData.reset(new RawData(std::move(bytes)));
}

void Message::setAuthKey(const AuthKey& key) {
    authSource = key.source();
    authRole = key.role();
    authLocation = key.location();
    authUser = key.text();
}

}  // namespace Data
}  // namespace Orvane
