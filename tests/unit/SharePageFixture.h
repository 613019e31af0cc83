// Helpers of the guest-facing suites (share pages, guest access, downloads):
// shares on real folders in the fixture's temporary folder, guest users with
// permissions, share-page requests as the web front builds them, and reads
// of the download history. Used from the test thread only.
#pragma once

#include <Poco/File.h>
#include <Poco/URI.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "core/Dappline.h"
#include "core/DapplinePlugin.h"
#include "orvane/Defs.h"
#include "orvane/GuestUserManager.h"
#include "store/DapplineDB.h"

namespace SharePageTest {

typedef TestSupport::MessagePtr MessagePtr;

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

inline std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(part); pos != std::string::npos;
         pos = text.find(part, pos + part.size()))
        ++n;
    return n;
}

// The values of every attribute `name="..."` that follows `after`.
inline std::vector<std::string> attributesAfter(const std::string& page, const std::string& after,
                                                const std::string& name) {
    std::vector<std::string> values;
    const std::string open = name + "=\"";
    for (std::size_t pos = page.find(after); pos != std::string::npos;
         pos = page.find(after, pos + after.size())) {
        const std::size_t start = page.find(open, pos);
        if (start == std::string::npos)
            break;
        const std::size_t end = page.find('"', start + open.size());
        values.push_back(page.substr(start + open.size(), end - start - open.size()));
    }
    return values;
}

inline std::string decodeURI(const std::string& text) {
    std::string out;
    Poco::URI::decode(text, out);
    return out;
}

class ShareFixture : public TestSupport::PluginFixture {
protected:
    Orvane::Dappline::DapplineDB& db() { return *m_plugin->database(); }

    // A share of a folder (made below the temporary folder when relative).
    Orvane::Dappline::Dappline addShare(const std::string& name, const std::string& location,
                                        int publicAccess = 1, const std::string& viewMode = "",
                                        const std::string& validity = "",
                                        std::int64_t sizeLimit = 0) {
        const std::string path =
            location.empty() || location[0] == '/' ? location : m_temp->mkdir(location);
        Orvane::Dappline::Dappline share(name, path, viewMode, validity, sizeLimit, 0, 1,
                                         publicAccess);
        EXPECT_TRUE(db().addShare(share)) << name;
        return share;
    }

    int addGuest(const std::string& name, const std::string& password, int shareId = 0,
                 int writeMode = 0) {
        const int id = Orvane::API::GuestUserManager::addGuestUser(name, password);
        EXPECT_GT(id, 0) << name;
        if (shareId > 0) {
            EXPECT_TRUE(db().addUserToShare(shareId, id, writeMode));
        }
        return id;
    }

    // A browser's request for /app/dapplinepro/share/<address>: the operation
    // is the decoded address, HTTPFullURL the address as the browser sends it.
    MessagePtr shareRequest(const std::string& address, const std::string& query = "",
                            int role = 0) {
        MessagePtr msg = request("share/" + address, query, role);
        std::string raw;
        Poco::URI::encode(address, "", raw);
        (*msg)[Orvane::Defs::HTTP::MS_HTTP_REQ][Orvane::Defs::HTTP::S_HTTP_REQ_URL] =
            "/app/dapplinepro/share/" + raw;
        return msg;
    }

    TestSupport::Reply get(const std::string& address, const std::string& query = "",
                           int role = 0) {
        return call(shareRequest(address, query, role));
    }

    static void setRequestField(const MessagePtr& msg, const std::string& field,
                                const std::string& value) {
        (*msg)[Orvane::Defs::HTTP::MS_HTTP_REQ][field] = value;
    }

    std::string downloadHistory() { return db().getHistoryXML(0, 100, -1, "DL"); }
    int downloadCountInHistory() {
        return static_cast<int>(countOf(downloadHistory(), "<history>"));
    }
};

}  // namespace SharePageTest
