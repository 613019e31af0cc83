// multipart/form-data bodies through the host's streaming reader. The input
// is a Content-Type value, a line break, then the body; each byte 0x01 in the
// body stands for 32 KiB of filler, so that short inputs reach delimiters
// split by the reader's 256 KiB buffer. Every part the reader finishes must
// hold exactly the bytes a plain reading of the whole body finds.
#include <sstream>
#include <vector>

#include "FuzzCheck.h"
#include "http/MultipartReader.h"

using Orvane::Host::MultipartError;
using Orvane::Host::MultipartReader;
using Orvane::Host::PartHeader;

namespace {

const std::size_t kFiller = 32 * 1024;

std::string expand(const std::string& body) {
    std::string out;
    for (char c : body) {
        if (c == '\x01')
            out.append(kFiller, 'f');
        else
            out += c;
    }
    return out;
}

// The parts' contents found in the whole body at once, up to the first
// fault; `closed` when the closing delimiter was reached.
std::vector<std::string> plainReading(const std::string& body, const std::string& boundary,
                                      bool& closed) {
    std::vector<std::string> parts;
    closed = false;
    const std::string text = "\r\n" + body;
    const std::string delimiter = "\r\n--" + boundary;
    std::size_t pos = text.find(delimiter);
    if (pos == std::string::npos)
        return parts;
    pos += delimiter.size();
    for (;;) {
        if (text.compare(pos, 2, "--") == 0) {
            closed = true;
            return parts;
        }
        // The rest of the delimiter's line, then header lines up to an empty one.
        bool blank = false;
        for (int line = 0; !blank; ++line) {
            const std::size_t end = text.find('\n', pos);
            if (end == std::string::npos)
                return parts;
            blank = line > 0 && (end == pos || (end == pos + 1 && text[pos] == '\r'));
            pos = end + 1;
        }
        const std::size_t next = text.find(delimiter, pos);
        if (next == std::string::npos)
            return parts;
        parts.push_back(text.substr(pos, next - pos));
        pos = next + delimiter.size();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzzText(data, size);
    const std::size_t eol = input.find('\n');
    if (eol == std::string::npos)
        return 0;
    std::string boundary = MultipartReader::boundaryOf(input.substr(0, eol));
    if (boundary.empty())
        boundary = "b";  // still read the body
    const std::string body = expand(input.substr(eol + 1));

    std::istringstream stream(body);
    MultipartReader reader(stream, boundary);
    std::vector<std::string> finished;
    bool closed = false;
    // Reads of several sizes, so that parts end inside and at reads' edges.
    static const std::size_t kReads[] = {1, 3, 4096, 70000};
    std::vector<char> buffer(70000);
    try {
        PartHeader header;
        while (reader.nextPart(header)) {
            std::string content;
            const std::size_t step = kReads[(finished.size() + boundary.size()) % 4];
            while (std::size_t n = reader.read(buffer.data(), step))
                content.append(buffer.data(), n);
            finished.push_back(content);
        }
        closed = true;
    } catch (const MultipartError&) {
        // A malformed body is refused; what was read so far must still be right.
    }
    bool plainClosed = false;
    const std::vector<std::string> plain = plainReading(body, boundary, plainClosed);
    FUZZ_CHECK(plain.size() >= finished.size(), "the reader found a part that is not there");
    for (std::size_t i = 0; i < finished.size(); ++i)
        FUZZ_CHECK(finished[i] == plain[i], "a part's content differs from the body's");
    if (closed)
        FUZZ_CHECK(plainClosed && plain.size() == finished.size(), "the reader ended too early");
    return 0;
}
