// The transfer journal of TempFile: a process killed mid-transfer leaves a
// temporary file that the next recovery removes, finished files stay, and a
// journal that names anything but our own temporary files removes nothing.
#include <gtest/gtest.h>

#include <Poco/File.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "DavSupport.h"
#include "http/TempFile.h"

using Orvane::Host::TempFile;

namespace {

class TempFileJournal : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/orvane-journal-XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern));
        root = pattern;
        journal = root + "/transfers.journal";
        Poco::File(root + "/share").createDirectories();
    }
    void TearDown() override {
        TempFile::closeJournal();
        Poco::File(root).remove(true);
    }
    std::vector<std::string> shareFiles() { return E2E::filesBelow(root + "/share"); }
    off_t journalSize() {
        struct stat st;
        return ::stat(journal.c_str(), &st) == 0 ? st.st_size : -1;
    }

    std::string root, journal;
};

}  // namespace

TEST_F(TempFileJournal, AKilledTransferIsRemovedByTheNextRecovery) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TempFile::recoverJournal(journal);
        TempFile* file = new TempFile(root + "/share");
        file->write("half", 4);
        ::kill(::getpid(), SIGKILL);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(child, ::waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(1u, shareFiles().size());
    EXPECT_TRUE(TempFile::isTempName(shareFiles()[0]));

    EXPECT_EQ(1, TempFile::recoverJournal(journal));
    EXPECT_TRUE(shareFiles().empty());
    EXPECT_EQ(0, journalSize());
}

TEST_F(TempFileJournal, FinishedFilesStayAndTheJournalEmptiesWhenIdle) {
    TempFile::recoverJournal(journal);
    std::string placed;
    {
        TempFile done(root + "/share");
        TempFile open(root + "/share");
        done.write("whole", 5);
        placed = done.placeUnique("a.txt");
        EXPECT_GT(journalSize(), 0) << "the open transfer must stay recorded";
    }
    EXPECT_EQ(0, journalSize());
    EXPECT_EQ(0, TempFile::recoverJournal(journal));
    EXPECT_EQ(std::vector<std::string>{"a.txt"}, shareFiles());
    EXPECT_EQ("whole", E2E::readFile(placed));
}

TEST_F(TempFileJournal, RemovesOnlyItsOwnTemporaryFiles) {
    const std::string share = root + "/share";
    const std::string uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
    E2E::writeFile(share + "/victim.txt", "keep me");
    E2E::writeFile(share + "/.orvane-part-short", "keep me too");
    ASSERT_EQ(0, ::symlink((share + "/victim.txt").c_str(),
                           (share + "/" + TempFile::PREFIX + uuid).c_str()));
    const std::string records = share + "/victim.txt" + std::string(1, '\0') + share +
                                "/.orvane-part-short" + std::string(1, '\0') + share + "/" +
                                TempFile::PREFIX + uuid + std::string(1, '\0') + share +
                                "/victim.txt";  // cut short: no NUL
    E2E::writeFile(journal, records);

    EXPECT_EQ(0, TempFile::recoverJournal(journal));
    EXPECT_EQ("keep me", E2E::readFile(share + "/victim.txt"));
    EXPECT_EQ("keep me too", E2E::readFile(share + "/.orvane-part-short"));
    EXPECT_EQ(3u, shareFiles().size());
}

TEST_F(TempFileJournal, WithoutAJournalTransfersStillWork) {
    TempFile file(root + "/share");
    file.write("x", 1);
    EXPECT_EQ(root + "/share/b.txt", file.placeUnique("b.txt"));
    EXPECT_EQ(-1, journalSize());
}
