// Reads a multipart/form-data body part by part straight from the request
// stream, through one fixed buffer: an upload of any size never sits in
// memory. A malformed or cut-off body throws MultipartError. One object per
// request, used on the request's own thread.
#pragma once

#include <cstddef>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orvane {
namespace Host {

class MultipartError : public std::runtime_error {
public:
    explicit MultipartError(const std::string& why) : std::runtime_error(why) {}
};

struct PartHeader {
    std::string name;      // the form field
    std::string fileName;  // as the browser sent it; empty for plain fields
    bool hasFileName = false;
    std::string contentType;
};

class MultipartReader {
public:
    MultipartReader(std::istream& in, const std::string& boundary);

    // The boundary parameter of a multipart/form-data content type; "" when
    // the type is another or names no usable boundary.
    static std::string boundaryOf(const std::string& contentType);

    // Skips what is left of the current part and reads the next part's
    // headers; false after the closing delimiter.
    bool nextPart(PartHeader& header);
    // Up to `size` bytes of the current part's content; 0 at its end.
    std::size_t read(char* buffer, std::size_t size);

private:
    enum State { PREAMBLE, BODY, BETWEEN, DONE };

    // Reads more bytes from the stream; false at its end.
    bool fill();
    std::size_t available() const { return m_end - m_begin; }
    // Waits until at least `count` bytes are buffered; false at the end.
    bool ensure(std::size_t count);
    void skipToDelimiter();
    // After a delimiter: "--" ends the body, otherwise the rest of the line.
    bool afterDelimiter();
    void readHeaders(PartHeader& header);
    std::string readLine();

    std::istream& m_in;
    std::string m_delimiter;
    std::vector<char> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    bool m_eof = false;
    State m_state = PREAMBLE;
};

}  // namespace Host
}  // namespace Orvane
