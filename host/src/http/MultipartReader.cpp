#include "http/MultipartReader.h"

#include <Poco/Net/MessageHeader.h>
#include <Poco/Net/NameValueCollection.h>
#include <Poco/String.h>
#include <string.h>

#include <algorithm>

namespace Orvane {
namespace Host {

namespace {

const std::size_t kBufferBytes = 256 * 1024;
// A part's header block is a few short lines; more is not a browser.
const std::size_t kMaxHeaderLine = 8 * 1024;
const int kMaxHeaderLines = 32;

}  // namespace

MultipartReader::MultipartReader(std::istream& in, const std::string& boundary)
    : m_in(in), m_delimiter("\r\n--" + boundary), m_buffer(kBufferBytes) {
    // The first delimiter may open the body without a line break before it.
    m_buffer[0] = '\r';
    m_buffer[1] = '\n';
    m_end = 2;
}

std::string MultipartReader::boundaryOf(const std::string& contentType) {
    std::string type;
    Poco::Net::NameValueCollection params;
    Poco::Net::MessageHeader::splitParameters(contentType, type, params);
    if (Poco::icompare(Poco::trim(type), "multipart/form-data") != 0)
        return std::string();
    const std::string boundary = params.get("boundary", "");
    // RFC 2046: 1 to 70 characters.
    if (boundary.empty() || boundary.size() > 70)
        return std::string();
    return boundary;
}

bool MultipartReader::fill() {
    if (m_eof)
        return false;
    if (m_begin > 0) {
        std::copy(m_buffer.begin() + m_begin, m_buffer.begin() + m_end, m_buffer.begin());
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buffer.size())
        return true;
    m_in.read(m_buffer.data() + m_end, static_cast<std::streamsize>(m_buffer.size() - m_end));
    const std::streamsize got = m_in.gcount();
    if (got <= 0) {
        m_eof = true;
        return false;
    }
    m_end += static_cast<std::size_t>(got);
    return true;
}

bool MultipartReader::ensure(std::size_t count) {
    while (available() < count) {
        if (!fill())
            return false;
    }
    return true;
}

bool MultipartReader::nextPart(PartHeader& header) {
    if (m_state == BODY) {
        char sink[16 * 1024];
        while (read(sink, sizeof(sink)) > 0) {
        }
    }
    if (m_state == PREAMBLE)
        skipToDelimiter();
    if (m_state == DONE)
        return false;
    if (!afterDelimiter()) {
        m_state = DONE;
        return false;
    }
    header = PartHeader();
    readHeaders(header);
    m_state = BODY;
    return true;
}

void MultipartReader::skipToDelimiter() {
    for (;;) {
        ensure(m_delimiter.size());
        const char* start = m_buffer.data() + m_begin;
        const void* hit = ::memmem(start, available(), m_delimiter.data(), m_delimiter.size());
        if (hit) {
            m_begin += static_cast<const char*>(hit) - start + m_delimiter.size();
            m_state = BETWEEN;
            return;
        }
        if (m_eof)
            throw MultipartError("the body holds no part");
        // Keep what could be the start of a delimiter split by the buffer.
        m_begin = m_end - std::min(available(), m_delimiter.size() - 1);
        fill();
    }
}

bool MultipartReader::afterDelimiter() {
    if (!ensure(2))
        throw MultipartError("the body ended after a delimiter");
    if (m_buffer[m_begin] == '-' && m_buffer[m_begin + 1] == '-') {
        m_begin += 2;
        return false;
    }
    // Transport padding may follow the delimiter before its line break.
    const std::string rest = readLine();
    if (!Poco::trim(rest).empty())
        throw MultipartError("a delimiter is followed by text");
    return true;
}

std::string MultipartReader::readLine() {
    std::string line;
    for (;;) {
        if (!ensure(1))
            throw MultipartError("the body ended within a part's headers");
        const char c = m_buffer[m_begin++];
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        line += c;
        if (line.size() > kMaxHeaderLine)
            throw MultipartError("a part header is too long");
    }
}

void MultipartReader::readHeaders(PartHeader& header) {
    for (int lines = 0;; ++lines) {
        if (lines > kMaxHeaderLines)
            throw MultipartError("a part has too many headers");
        const std::string line = readLine();
        if (line.empty())
            return;
        const std::string::size_type colon = line.find(':');
        if (colon == std::string::npos)
            throw MultipartError("a part header has no name");
        const std::string name = Poco::trim(line.substr(0, colon));
        const std::string value = Poco::trim(line.substr(colon + 1));
        if (Poco::icompare(name, "Content-Type") == 0) {
            header.contentType = value;
        } else if (Poco::icompare(name, "Content-Disposition") == 0) {
            std::string kind;
            Poco::Net::NameValueCollection params;
            Poco::Net::MessageHeader::splitParameters(value, kind, params);
            header.name = params.get("name", "");
            header.hasFileName = params.has("filename");
            header.fileName = params.get("filename", "");
        }
    }
}

std::size_t MultipartReader::read(char* buffer, std::size_t size) {
    if (m_state != BODY || size == 0)
        return 0;
    for (;;) {
        const char* start = m_buffer.data() + m_begin;
        const void* hit = ::memmem(start, available(), m_delimiter.data(), m_delimiter.size());
        std::size_t safe;
        if (hit) {
            safe = static_cast<const char*>(hit) - start;
            if (safe == 0) {
                m_begin += m_delimiter.size();
                m_state = BETWEEN;
                return 0;
            }
        } else {
            // Bytes that cannot begin a delimiter split by the buffer's end.
            safe = available() >= m_delimiter.size() ? available() - (m_delimiter.size() - 1) : 0;
        }
        if (safe > 0) {
            const std::size_t n = std::min(safe, size);
            std::copy(start, start + n, buffer);
            m_begin += n;
            return n;
        }
        if (!fill())
            throw MultipartError("the body ended within a part");
    }
}

}  // namespace Host
}  // namespace Orvane
