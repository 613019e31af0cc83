// Share browsing in the host's explorer: which roots and folders a signed-in
// guest or an anonymous visitor is shown, whether the listing is writable,
// how the lister's parameters arrive, and who is not answered at all. The
// answers are read back through a real XML parser.
#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>
#include <unistd.h>

#include "SharePageFixture.h"

using namespace SharePageTest;
using TestSupport::Reply;

namespace {

const int ANONYMOUS = 0;
const int GUEST = 30;
const int OWNER = 100;
const int READ = 0;
const int WRITE = 1;
const char* const FAIL = "<filelistfail></filelistfail>";
const char* const NO_DIRECTORIES = "<directories></directories>";

std::string encode(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "&=+#?/", out);
    return out;
}

struct Entry {
    std::string name, path;
    bool writable = false;
    bool root = false;
};

// The entries (or directories) of an answer, in order.
std::vector<Entry> entriesOf(const std::string& xml, const std::string& tag = "entry") {
    Poco::AutoPtr<Poco::XML::Document> doc = Poco::XML::DOMParser().parseString(xml);
    Poco::AutoPtr<Poco::XML::NodeList> nodes = doc->getElementsByTagName(tag);
    std::vector<Entry> out;
    for (unsigned long i = 0; i < nodes->length(); ++i) {
        auto* e = static_cast<Poco::XML::Element*>(nodes->item(i));
        auto text = [e](const char* child) {
            Poco::XML::Element* c = e->getChildElement(child);
            return c ? c->innerText() : std::string();
        };
        out.push_back({text("name"), text("path"), text("writable") == "1", text("isroot") == "1"});
    }
    return out;
}

std::vector<std::string> namesOf(const std::vector<Entry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries)
        names.push_back(e.name);
    return names;
}

typedef std::vector<std::string> Names;

// Shares: "rw" (private, ann writes), "ro" (private, ann reads), "pub"
// (public, ann holds write), "closed" (private, nobody); ann's permissions
// are added in that order.
class ExplorerBrowse : public ShareFixture {
protected:
    void SetUp() override {
        ShareFixture::SetUp();
        m_rw = addShare("rw", "rw", 0);
        m_ro = addShare("ro", "ro", 0);
        m_pub = addShare("pub", "pub", 1);
        m_closed = addShare("closed", "closed", 0);
        m_ann = addGuest("ann", "pw", m_rw.shareId, WRITE);
        ASSERT_TRUE(db().addUserToShare(m_ro.shareId, m_ann, READ));
        ASSERT_TRUE(db().addUserToShare(m_pub.shareId, m_ann, WRITE));
        m_temp->write("rw/a.jpg", "j");
        m_temp->write("rw/b.txt", "t");
        m_temp->write("rw/c.mp3", "m");
        m_temp->mkdir("rw/sub");
        m_temp->write("ro/r.txt", "r");
        m_temp->write("pub/p.txt", "p");
        m_temp->mkdir("pub/inner");
        m_temp->write("closed/secret.txt", "s");
    }

    std::string at(const std::string& relative) const { return m_temp->path() + "/" + relative; }

    MessagePtr ask(const std::string& op, const std::string& body, int role,
                   const std::string& user) {
        MessagePtr msg = request(op, "", role);
        msg->authUser = user;
        msg->setRawData(body);
        return msg;
    }
    std::string list(const std::string& body, int role = GUEST, const std::string& user = "ann") {
        Reply r = call(ask("getfilelist", body, role, user));
        EXPECT_EQ(200, r.status);
        EXPECT_EQ("text/xml; charset=utf-8", r.contentType);
        return r.body;
    }
    std::string listPath(const std::string& path, int role = GUEST) {
        return list("path=" + encode(path), role);
    }
    std::string dirs(const std::string& body, const std::string& user = "ann") {
        return call(ask("getdirectorylist", body, GUEST, user)).body;
    }
    bool unanswered(const std::string& op, const std::string& body, int role) {
        MessagePtr msg = ask(op, body, role, role == GUEST ? "ann" : "");
        deliver(msg);
        return repliesFor(msg).empty();
    }
    static std::string yesterday() {
        return Poco::DateTimeFormatter::format(Poco::Timestamp() - Poco::Timespan(1, 0, 0, 0, 0),
                                               Poco::DateTimeFormat::SORTABLE_FORMAT);
    }

    Orvane::Dappline::Dappline m_rw, m_ro, m_pub, m_closed;
    int m_ann = -1;
};

TEST_F(ExplorerBrowse, GuestWithoutSharesGetsAnEmptyRootList) {
    addGuest("zed", "pw");
    EXPECT_EQ("<entries><meta><parentpath></parentpath><isroot>1</isroot></meta></entries>",
              list("path=", GUEST, "zed"));
    EXPECT_EQ(FAIL, list("path=", GUEST, "nobody"));
    EXPECT_EQ(FAIL, list("path=" + encode(at("rw")), GUEST, "zed"));
}

TEST_F(ExplorerBrowse, SignedInGuestKeepsThePublicSharesReadOnly) {
    addGuest("zed", "pw");
    const std::string pub = list("path=" + encode(at("pub/inner")), GUEST, "zed");
    EXPECT_TRUE(entriesOf(pub).empty());
    EXPECT_NE(std::string::npos, pub.find("<parentpath>" + at("pub/inner") + "</parentpath>"));
    EXPECT_EQ(std::string::npos, pub.find("<writable>")) << pub;
    EXPECT_EQ(FAIL, list("path=" + encode(at("closed")), GUEST, "zed"));
}

TEST_F(ExplorerBrowse, LinksLeadingOutOfAShareAreNeitherListedNorEntered) {
    m_temp->write("closed/deep/s.txt", "s");
    ASSERT_EQ(0, ::symlink(at("closed").c_str(), at("rw/out").c_str()));
    ASSERT_EQ(0, ::symlink(at("closed").c_str(), at("pub/out").c_str()));
    ASSERT_EQ(0, ::symlink(at("rw/sub").c_str(), at("rw/in").c_str()));
    EXPECT_EQ((Names{"in", "sub", "a.jpg", "b.txt", "c.mp3"}),
              namesOf(entriesOf(listPath(at("rw")))));
    EXPECT_EQ(FAIL, listPath(at("rw/out")));
    EXPECT_EQ((Names{"inner", "p.txt"}), namesOf(entriesOf(listPath(at("pub"), ANONYMOUS))));
    EXPECT_EQ(FAIL, listPath(at("pub/out"), ANONYMOUS));
    EXPECT_EQ(NO_DIRECTORIES, dirs("directory=" + encode(at("rw/out"))));
    const auto tree = entriesOf(dirs("directory=" + encode(at("rw"))), "directory");
    EXPECT_EQ((Names{"in", "sub"}), namesOf(tree));
}

TEST_F(ExplorerBrowse, RootsAreTheGuestsSharesWithTheirRealWriteRight) {
    const auto roots = entriesOf(list("path="));
    EXPECT_EQ((Names{"rw", "ro", "pub"}), namesOf(roots));
    ASSERT_EQ(3u, roots.size());
    EXPECT_EQ(at("rw"), roots[0].path);
    EXPECT_TRUE(roots[0].root);
    EXPECT_TRUE(roots[0].writable);
    EXPECT_FALSE(roots[1].writable);  // read permission
    EXPECT_FALSE(roots[2].writable);  // public shares never take writes
}

TEST_F(ExplorerBrowse, ListingIsWritableOnlyOnAPrivateWriteShare) {
    const auto rw = entriesOf(listPath(at("rw")));
    EXPECT_EQ((Names{"sub", "a.jpg", "b.txt", "c.mp3"}), namesOf(rw));
    for (const auto& e : rw)
        EXPECT_TRUE(e.writable) << e.name;
    const std::string pub = listPath(at("pub"));
    EXPECT_EQ((Names{"inner", "p.txt"}), namesOf(entriesOf(pub)));
    EXPECT_EQ(std::string::npos, pub.find("<writable>")) << pub;
    EXPECT_EQ(std::string::npos, listPath(at("ro")).find("<writable>"));
    EXPECT_EQ(FAIL, listPath(at("closed")));
}

TEST_F(ExplorerBrowse, ExpiredShareLeavesTheRootsButStaysInTheTree) {
    const auto old = addShare("old", "old", 0, "", yesterday());
    ASSERT_TRUE(db().addUserToShare(old.shareId, m_ann, WRITE));
    EXPECT_EQ((Names{"rw", "ro", "pub"}), namesOf(entriesOf(list("path="))));
    EXPECT_EQ(FAIL, listPath(at("old")));
    const auto tree = entriesOf(dirs("directory="), "directory");
    EXPECT_EQ((Names{"rw", "ro", "pub", "old"}), namesOf(tree));
}

TEST_F(ExplorerBrowse, ShareHoldsWholeComponentsOnly) {
    m_temp->write("rw2/x.txt", "x");
    m_temp->write("pub2/x.txt", "x");
    EXPECT_EQ(FAIL, listPath(at("rw2")));
    EXPECT_EQ(FAIL, listPath(at("pub2"), ANONYMOUS));
    EXPECT_EQ(NO_DIRECTORIES, dirs("directory=" + encode(at("rw2"))));
}

TEST_F(ExplorerBrowse, AnonymousVisitorSeesPublicSharesOnly) {
    EXPECT_EQ((Names{"inner", "p.txt"}), namesOf(entriesOf(listPath(at("pub"), ANONYMOUS))));
    EXPECT_TRUE(entriesOf(listPath(at("pub/inner"), ANONYMOUS)).empty());
    EXPECT_EQ(FAIL, listPath(at("rw"), ANONYMOUS));
    EXPECT_EQ(FAIL, listPath("", ANONYMOUS));
    EXPECT_EQ(std::string::npos, listPath(at("pub"), ANONYMOUS).find("<writable>"));
}

TEST_F(ExplorerBrowse, ListerParametersPassThrough) {
    const std::string rw = "path=" + encode(at("rw"));
    EXPECT_EQ((Names{"sub", "a.jpg"}), namesOf(entriesOf(list(rw + "&filter=pictures"))));
    EXPECT_EQ((Names{"sub", "c.mp3"}), namesOf(entriesOf(list(rw + "&filter=audio"))));
    // Unknown filters list everything.
    EXPECT_EQ(4u, entriesOf(list(rw + "&filter=video")).size());
    EXPECT_EQ((Names{"a.jpg", "b.txt"}), namesOf(entriesOf(list(rw + "&start=1&limit=2"))));
    EXPECT_EQ((Names{"b.txt", "c.mp3"}), namesOf(entriesOf(list(rw + "&start=2"))));
    EXPECT_EQ((Names{"b.txt"}), namesOf(entriesOf(list(rw + "&search=B."))));
    // The path is read in native form.
    EXPECT_EQ(4u, entriesOf(list("path=" + encode(at("rw") + "//"))).size());
}

TEST_F(ExplorerBrowse, MissingParameterGivesTheFailureAnswer) {
    EXPECT_EQ(FAIL, list(""));
    EXPECT_EQ(FAIL, list("start=0&limit=5", ANONYMOUS, ""));
    EXPECT_EQ(NO_DIRECTORIES, dirs(""));
}

TEST_F(ExplorerBrowse, OtherRolesAreNotAnswered) {
    EXPECT_TRUE(unanswered("getfilelist", "path=" + encode(at("pub")), OWNER));
    EXPECT_TRUE(unanswered("getfilelist", "path=", 31));
    EXPECT_TRUE(unanswered("getdirectorylist", "directory=", OWNER));
    EXPECT_TRUE(unanswered("getdirectorylist", "directory=" + encode(at("pub")), ANONYMOUS));
}

TEST_F(ExplorerBrowse, DirectoryTreeListsSubFoldersOfHeldShares) {
    m_temp->mkdir("rw/sub/deeper");
    m_temp->mkdir("rw/.hidden");
    const auto roots = entriesOf(dirs("directory="), "directory");
    ASSERT_EQ(3u, roots.size());
    EXPECT_TRUE(roots[0].writable);
    EXPECT_FALSE(roots[1].writable);
    EXPECT_FALSE(roots[2].writable);
    EXPECT_EQ((Names{"sub"}),
              namesOf(entriesOf(dirs("directory=" + encode(at("rw"))), "directory")));
    EXPECT_EQ((Names{"deeper"}),
              namesOf(entriesOf(dirs("directory=" + encode(at("rw/sub"))), "directory")));
    EXPECT_EQ(NO_DIRECTORIES, dirs("directory=" + encode(at("closed"))));
    EXPECT_EQ(NO_DIRECTORIES, dirs("directory=", "nobody"));
    // Inside a hidden folder nothing is listed, not even to a writing guest
    // nor on a public share.
    m_temp->write("rw/.hidden/key", "k");
    m_temp->write("pub/.git/config", "c");
    EXPECT_EQ(NO_DIRECTORIES, dirs("directory=" + encode(at("rw/.hidden"))));
    EXPECT_EQ(FAIL, listPath(at("rw/.hidden")));
    EXPECT_EQ(FAIL, listPath(at("pub/.git"), ANONYMOUS));
    EXPECT_EQ((Names{"inner", "p.txt"}), namesOf(entriesOf(listPath(at("pub"), ANONYMOUS))));
}

TEST_F(ExplorerBrowse, RootOfAVanishedFolderIsLeftOut) {
    const auto gone = addShare("gone", "gone", 0);
    ASSERT_TRUE(db().addUserToShare(gone.shareId, m_ann, READ));
    Poco::File(at("gone")).remove(true);
    EXPECT_EQ((Names{"rw", "ro", "pub"}), namesOf(entriesOf(list("path="))));
    EXPECT_EQ((Names{"rw", "ro", "pub"}), namesOf(entriesOf(dirs("directory="), "directory")));
}

}  // namespace
