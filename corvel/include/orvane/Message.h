// The unit of every request and reply on the host's bus: addressing, the
// authentication levels, named sections of fields, and raw bytes.
// A message is not locked: one thread works on it at a time, and whoever
// posts it hands it over.
#pragma once

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "orvane/AuthKey.h"

namespace Orvane {
namespace Data {

// One field value; numbers are kept as their decimal text.
class VariantField {
public:
    VariantField() = default;
    VariantField(const std::string& text) : m_value(text) {}
    VariantField(const char* text) : m_value(text ? text : "") {}
    VariantField(int value) : m_value(std::to_string(value)) {}
    VariantField(long value) : m_value(std::to_string(value)) {}
    VariantField(long long value) : m_value(std::to_string(value)) {}
    VariantField(unsigned long value) : m_value(std::to_string(value)) {}

    const std::string& getString() const { return m_value; }
    // Leading decimal digits (with sign); 0 when there are none.
    std::int64_t getInt64() const;
    int getInt() const { return static_cast<int>(getInt64()); }

private:
    std::string m_value;
};

class VariantRow {
public:
    typedef std::map<std::string, VariantField> Fields;

    // Creates the field, empty, on first use.
    VariantField& operator[](const std::string& field) { return m_fields[field]; }
    bool hasField(const std::string& field) const { return m_fields.count(field) != 0; }
    // The field's text, or "" when absent; never creates it.
    std::string getString(const std::string& field) const;
    const Fields& fields() const { return m_fields; }
    void erase(const std::string& field) { m_fields.erase(field); }

private:
    Fields m_fields;
};

class RawData {
public:
    RawData(const char* bytes, std::size_t length) : m_bytes(bytes, length) {}
    // Takes the bytes over: a page of megabytes is not copied on its way.
    explicit RawData(std::string&& bytes) : m_bytes(std::move(bytes)) {}
    const char* getRawData() const { return m_bytes.data(); }
    std::size_t getTotalBytes() const { return m_bytes.size(); }
    std::string toString() const { return m_bytes; }

private:
    std::string m_bytes;
};

class Message {
public:
    typedef std::map<std::string, VariantRow> Sections;

    std::string sender;
    std::string target;
    std::string operation;
    int authSource = 0;
    int authRole = 0;
    int authLocation = 0;
    std::string authUser;
    // The web client the request came from (after trusted proxies), set by
    // the host's front; "" for the host's own messages. While the message is
    // delivered, System::currentClientAddress() names it on that thread.
    std::string clientAddress;

    // Creates the section, empty, on first use.
    VariantRow& operator[](const std::string& section) { return m_sections[section]; }
    bool hasSection(const std::string& section) const { return m_sections.count(section) != 0; }
    // Null when the section is absent; never creates it.
    const VariantRow* findSection(const std::string& section) const;
    const Sections& sections() const { return m_sections; }

    void setRawData(const char* bytes, std::size_t length);
    void setRawData(const std::string& bytes) { setRawData(bytes.data(), bytes.size()); }
    void setRawData(std::string&& bytes);
    // Null when the message carries no raw data.
    const boost::shared_ptr<RawData>& getRawData() const { return m_rawData; }

    void setAuthKey(const AuthKey& key);

private:
    Sections m_sections;
    boost::shared_ptr<RawData> m_rawData;
};

typedef boost::shared_ptr<Message> MessagePtr;

}  // namespace Data
}  // namespace Orvane
