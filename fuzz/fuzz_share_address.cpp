// Addresses below "share/" as the plug-in splits them into a share's name
// and the path inside its folder.
#include "FuzzCheck.h"
#include "pages/ShareAddress.h"

using Orvane::Dappline::splitShareAddress;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The plug-in routes only operations beginning with "share" here.
    const std::string operation = "share" + fuzzText(data, size);
    std::string name, path;
    if (!splitShareAddress(operation, name, path))
        return 0;
    FUZZ_CHECK(!name.empty(), "an address without a share's name");
    FUZZ_CHECK(name.find('/') == std::string::npos, "a share's name with a slash");
    FUZZ_CHECK(name.find("..") == std::string::npos && path.find("..") == std::string::npos,
               "an address that climbs out of the share");
    const bool hasPath = operation.find('/', 6) != std::string::npos;
    FUZZ_CHECK(operation == "share/" + name + (hasPath ? "/" + path : std::string()),
               "the parts do not make up the address");
    return 0;
}
