#include "app/SettingsFile.h"

#include <Poco/String.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace Orvane {
namespace Host {
namespace {

// The next character of a value, with escapes and continued lines resolved;
// 0 at the end of the entry. Counts the lines it consumes.
int valueChar(std::istream& in, int& line) {
    const int eof = std::char_traits<char>::eof();
    for (;;) {
        int c = in.get();
        if (c == '\r' && in.peek() == '\n')
            in.get();
        if (c == eof || c == '\n' || c == '\r')
            return 0;
        if (c != '\\')
            return c;
        c = in.get();
        switch (c) {
            case 't':
                return '\t';
            case 'n':
                return '\n';
            case 'r':
                return '\r';
            case 'f':
                return '\f';
            case '\r':
                if (in.peek() == '\n')
                    in.get();
                ++line;
                continue;
            case '\n':
                ++line;
                continue;
            case std::char_traits<char>::eof():
                return 0;
            default:
                return c;
        }
    }
}

void skipLine(std::istream& in) {
    const int eof = std::char_traits<char>::eof();
    int c = in.get();
    while (c != eof && c != '\n' && c != '\r')
        c = in.get();
    if (c == '\r' && in.peek() == '\n')
        in.get();
}

}  // namespace

std::vector<SettingsEntry> SettingsFile::parse(std::istream& in) {
    const int eof = std::char_traits<char>::eof();
    std::vector<SettingsEntry> entries;
    int line = 1;
    for (;;) {
        int c = in.peek();
        while (c == ' ' || c == '\t' || c == '\f') {
            in.get();
            c = in.peek();
        }
        if (c == eof)
            return entries;
        if (c == '\n' || c == '\r' || c == '#' || c == '!') {
            skipLine(in);
            ++line;
            continue;
        }
        SettingsEntry entry;
        entry.line = line;
        c = in.get();
        while (c != eof && c != '=' && c != ':' && c != '\n' && c != '\r') {
            entry.key += static_cast<char>(c);
            c = in.get();
        }
        if (c == '\r' && in.peek() == '\n')
            in.get();
        entry.hasSeparator = c == '=' || c == ':';
        if (entry.hasSeparator) {
            for (int v = valueChar(in, line); v != 0; v = valueChar(in, line))
                entry.value += static_cast<char>(v);
        }
        entry.key = Poco::trim(entry.key);
        entry.value = Poco::trim(entry.value);
        entries.push_back(entry);
        ++line;
    }
}

std::vector<SettingsEntry> SettingsFile::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw SettingsError(path + ": cannot be read: " + std::strerror(errno));
    return parse(in);
}

}  // namespace Host
}  // namespace Orvane
