// The explorer's file operations as the plug-in decides them: the mark each
// forwarded operation carries to the explorer for read and write permissions,
// the checks of both paths of a copy or move, the new name of a rename, and
// the breadcrumb answer of "splitfilepaths".
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timespan.h>

#include "SharePageFixture.h"

using namespace SharePageTest;
using namespace Orvane::Defs;
using TestSupport::Reply;

namespace {

const int ANONYMOUS = 0;
const int GUEST = 30;
const int OWNER = 100;
const int READ = 0;
const int WRITE = 1;

std::string encode(const std::string& text) {
    std::string out;
    Poco::URI::encode(text, "&=+#?/", out);
    return out;
}

// A private share "rw" that ann may write, a private share "ro" that she may
// only read, and a public share "pub" on which she also holds write.
class ExplorerOperations : public ShareFixture {
protected:
    void SetUp() override {
        ShareFixture::SetUp();
        m_rw = addShare("rw", "rw", 0);
        m_ro = addShare("ro", "ro", 0);
        m_pub = addShare("pub", "pub", 1);
        m_ann = addGuest("ann", "pw", m_rw.shareId, WRITE);
        ASSERT_TRUE(db().addUserToShare(m_ro.shareId, m_ann, READ));
        ASSERT_TRUE(db().addUserToShare(m_pub.shareId, m_ann, WRITE));
    }

    std::string at(const std::string& relative) const { return m_temp->path() + "/" + relative; }

    // Posts a form-body operation and returns what reached the explorer
    // (null when nothing did).
    MessagePtr forward(const std::string& op, const std::string& body, int role = GUEST,
                       const std::string& user = "ann") {
        MessagePtr msg = request(op, "", role);
        msg->authUser = user;
        msg->setRawData(body);
        const std::size_t before = m_explorer->count();
        deliver(msg);
        EXPECT_TRUE(repliesFor(msg).empty()) << op << " answered by the plug-in";
        if (m_explorer->count() == before)
            return MessagePtr();
        return m_explorer->messages().back();
    }

    // "1", "0", or why there is no mark.
    std::string mark(const std::string& op, const std::string& body, int role = GUEST,
                     const std::string& user = "ann") {
        MessagePtr out = forward(op, body, role, user);
        if (!out)
            return "not forwarded";
        const auto* row = out->findSection(GuestAccess::MS_GUESTACCESS);
        return row && row->hasField(GuestAccess::S_ALLOW) ? row->getString(GuestAccess::S_ALLOW)
                                                          : "unmarked";
    }

    // The body of each single-path operation for the path.
    static std::string bodyFor(const std::string& op, const std::string& path) {
        if (op == "renamefile")
            return "path=" + encode(path) + "&name=new";
        if (op == "copyfile")
            return "path=" + encode(path) + "&copyto=" + encode(path);
        if (op == "renameormove")
            return "fromname=" + encode(path) + "&toname=" + encode(path + "-moved");
        if (op == "fileexists")
            return "file=" + encode(encode(path));
        return "path=" + encode(path);
    }

    Orvane::Dappline::Dappline m_rw, m_ro, m_pub;
    int m_ann = -1;
};

TEST_F(ExplorerOperations, EachOperationNeedsWriteExceptFileExists) {
    const std::string rwFile = m_temp->write("rw/a.txt", "a");
    const std::string roFile = m_temp->write("ro/a.txt", "a");
    for (const std::string op :
         {"createfolder", "renamefile", "deletefile", "copyfile", "renameormove"}) {
        EXPECT_EQ("1", mark(op, bodyFor(op, rwFile))) << op;
        EXPECT_EQ("0", mark(op, bodyFor(op, roFile))) << op;
        EXPECT_EQ("0", mark(op, bodyFor(op, at("elsewhere/a.txt")))) << op;
        EXPECT_EQ("0", mark(op, bodyFor(op, rwFile), GUEST, "nobody")) << op;
    }
    EXPECT_EQ("1", mark("fileexists", bodyFor("fileexists", rwFile)));
    EXPECT_EQ("1", mark("fileexists", bodyFor("fileexists", roFile)));
    EXPECT_EQ("0", mark("fileexists", bodyFor("fileexists", at("elsewhere/a.txt"))));
}

TEST_F(ExplorerOperations, TheSameMessageGoesOnUnchanged) {
    const std::string body = "path=" + encode(at("rw/new folder"));
    MessagePtr out = forward("createfolder", body);
    ASSERT_TRUE(out);
    EXPECT_EQ("explorer", out->target);
    EXPECT_EQ("createfolder", out->operation);
    EXPECT_EQ("ann", out->authUser);
    ASSERT_TRUE(out->getRawData());
    EXPECT_EQ(body, out->getRawData()->toString());
    EXPECT_FALSE(tokenOf(out).empty());
}

TEST_F(ExplorerOperations, PublicSharesAreReadOnlyForAnonymousVisitors) {
    const std::string file = m_temp->write("pub/a.txt", "a");
    // A guest's own write permission counts here, as for the explorer's uploads.
    EXPECT_EQ("1", mark("deletefile", bodyFor("deletefile", file)));
    EXPECT_EQ("0", mark("deletefile", bodyFor("deletefile", file), ANONYMOUS, ""));
    EXPECT_EQ("1", mark("fileexists", bodyFor("fileexists", file), ANONYMOUS, ""));
    EXPECT_EQ("0",
              mark("fileexists", bodyFor("fileexists", m_temp->write("rw/b", "")), ANONYMOUS, ""));
    // The owner has no guest name: the explorer serves him without asking.
    EXPECT_EQ("0", mark("fileexists", bodyFor("fileexists", file), OWNER, ""));
}

TEST_F(ExplorerOperations, CopyAndMoveNeedWriteOnBothSides) {
    const std::string rwFile = m_temp->write("rw/a.txt", "a");
    const std::string roFile = m_temp->write("ro/a.txt", "a");
    const std::string rwDir = m_temp->mkdir("rw/sub");
    auto copy = [&](const std::string& from, const std::string& to) {
        return mark("copyfile", "path=" + encode(from) + "&copyto=" + encode(to));
    };
    auto move = [&](const std::string& from, const std::string& to) {
        return mark("renameormove", "fromname=" + encode(from) + "&toname=" + encode(to));
    };
    EXPECT_EQ("1", copy(rwFile, rwDir));
    EXPECT_EQ("0", copy(roFile, rwDir));  // a read-only source into a writable target
    EXPECT_EQ("0", copy(rwFile, at("ro")));
    EXPECT_EQ("1", move(rwFile, rwDir + "/a.txt"));
    EXPECT_EQ("0", move(roFile, rwDir + "/a.txt"));
    EXPECT_EQ("0", move(rwFile, at("ro/a2.txt")));
    EXPECT_EQ("0", move(rwFile, at("outside.txt")));
}

TEST_F(ExplorerOperations, SharePrefixCountsWholeComponents) {
    const std::string sibling = m_temp->write("rw2/a.txt", "a");
    for (const std::string op : {"createfolder", "deletefile", "fileexists"})
        EXPECT_EQ("0", mark(op, bodyFor(op, sibling))) << op;
    EXPECT_EQ("0", mark("deletefile", bodyFor("deletefile", at("rw/../ro/a.txt"))));
}

TEST_F(ExplorerOperations, RenameTakesOnlyAPlainNewName) {
    const std::string file = m_temp->write("rw/a.txt", "a");
    auto rename = [&](const std::string& path, const std::string& nameField) {
        return mark("renamefile", "path=" + encode(path) + nameField);
    };
    EXPECT_EQ("1", rename(file, "&name=" + encode("b & c <d>.txt")));
    for (const std::string name : {"", ".", "..", "x/y", "../escape", "/abs"})
        EXPECT_EQ("0", rename(file, "&name=" + encode(name))) << "'" << name << "'";
    EXPECT_EQ("0", rename(file, "&name=%00x"));
    EXPECT_EQ("0", rename(file, ""));
    // Renaming the share's own folder would put it beside the share.
    EXPECT_EQ("0", rename(at("rw"), "&name=renamed"));
    EXPECT_EQ("1", rename(at("rw/sub"), "&name=renamed"));
}

TEST_F(ExplorerOperations, FileExistsDecodesOnceMore) {
    const std::string file = m_temp->write("ro/with space%.txt", "a");
    EXPECT_EQ("1", mark("fileexists", "file=" + encode(encode(file))));
    // Decoded only once, the name keeps its escapes and lies nowhere.
    EXPECT_EQ("0", mark("fileexists", "file=" + encode(encode(encode(file)))));
}

TEST_F(ExplorerOperations, ExpiredShareGrantsNothing) {
    const std::string yesterday = Poco::DateTimeFormatter::format(
        Poco::Timestamp() - Poco::Timespan(1, 0, 0, 0, 0), Poco::DateTimeFormat::SORTABLE_FORMAT);
    const auto old = addShare("old", "old", 0, "", yesterday);
    ASSERT_TRUE(db().addUserToShare(old.shareId, m_ann, WRITE));
    EXPECT_EQ("0", mark("createfolder", bodyFor("createfolder", at("old/new"))));
    EXPECT_EQ("0", mark("fileexists", bodyFor("fileexists", at("old"))));
}

TEST_F(ExplorerOperations, MissingParameterPassesNothingOn) {
    EXPECT_EQ("not forwarded", mark("createfolder", ""));
    EXPECT_EQ("not forwarded", mark("deletefile", "file=" + encode(at("rw"))));
    EXPECT_EQ("not forwarded", mark("copyfile", "path=" + encode(at("rw"))));
    EXPECT_EQ("not forwarded", mark("renameormove", "fromname=" + encode(at("rw/a"))));
    EXPECT_EQ("not forwarded", mark("fileexists", "path=" + encode(at("rw"))));
}

class ExplorerSplitPaths : public ExplorerOperations {
protected:
    MessagePtr split(const std::string& path, const std::string& base, int role = GUEST) {
        std::string query = "path=" + encode(path);
        if (!base.empty())
            query += "&basepath=" + encode(base);
        MessagePtr msg = request("splitfilepaths", query, role);
        msg->authUser = role == GUEST ? "ann" : "";
        return msg;
    }
    std::string answer(const std::string& path, const std::string& base = "", int role = GUEST) {
        Reply r = call(split(path, base, role));
        EXPECT_EQ("text/xml; charset=utf-8", r.contentType);
        return r.body;
    }
    bool unanswered(const std::string& path, const std::string& base = "", int role = GUEST) {
        MessagePtr msg = split(path, base, role);
        deliver(msg);
        return repliesFor(msg).empty();
    }
    static std::string entry(const std::string& value) {
        return "<path><value>" + value + "</value></path>";
    }
};

TEST_F(ExplorerSplitPaths, GuestBaseIsTheShareFolder) {
    EXPECT_EQ("<paths>" + entry("rw") + "</paths>", answer(at("rw")));
    EXPECT_EQ("<paths>" + entry("rw") + entry("a") + entry("b") + "</paths>",
              answer(at("rw/a/b"), at("ignored")));
    EXPECT_EQ("<paths>" + entry("rw") + entry("a") + entry("") + entry("b") + "</paths>",
              answer(at("rw") + "/a//b"));
    EXPECT_EQ("<paths></paths>", answer(""));
}

TEST_F(ExplorerSplitPaths, NamesAreEscaped) {
    EXPECT_EQ(
        "<paths>" + entry("rw") + entry("x&amp;y&lt;z&gt;") + entry("&amp;#x41;") + "</paths>",
        answer(at("rw/x&y<z>/&#x41;")));
}

TEST_F(ExplorerSplitPaths, AnonymousBaseComesFromTheQuery) {
    EXPECT_EQ("<paths>" + entry("sub") + entry("c") + "</paths>",
              answer(at("pub/sub/c"), at("pub/sub"), ANONYMOUS));
    EXPECT_EQ("<paths>" + entry("pub") + "</paths>", answer(at("pub"), at("pub"), ANONYMOUS));
    EXPECT_TRUE(unanswered(at("pub/a"), at("rw"), ANONYMOUS));  // not below the base
    EXPECT_TRUE(unanswered(at("pub/a"), at("pu"), ANONYMOUS));  // a prefix, not a folder
    EXPECT_TRUE(unanswered(at("rw/a"), at("rw"), ANONYMOUS));   // not public
    EXPECT_TRUE(unanswered(at("pub/a"), "", ANONYMOUS));        // no base at all
}

TEST_F(ExplorerSplitPaths, RefusalsAreUnanswered) {
    EXPECT_TRUE(unanswered(at("elsewhere/a")));
    EXPECT_TRUE(unanswered(at("rw2/a")));
    EXPECT_TRUE(unanswered(at("rw/a"), "", OWNER));
}

}  // namespace
