// The zip journal: what a killed host left in shared folders is removed at
// the next start, and nothing but recorded zips ever is.
#include <gtest/gtest.h>
#include <unistd.h>

#include <Poco/File.h>

#include <fstream>

#include "TestSupport.h"
#include "transfers/CompressFolderActivity.h"
#include "transfers/ZipJournal.h"

using Orvane::Dappline::CompressFolderActivity;
using Orvane::Dappline::ZipJournal;
using TestSupport::TempDir;

namespace {

bool exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

class ZipJournalTest : public ::testing::Test {
protected:
    void TearDown() override { ZipJournal::close(); }
    std::string journal() const { return m_temp.path() + "/zips.journal"; }
    TempDir m_temp;
};

TEST_F(ZipJournalTest, RestartRemovesRecordedZipsAndTheirPartsOnly) {
    EXPECT_EQ(0, ZipJournal::recover(journal()));
    const std::string folder = m_temp.mkdir("share/sub");
    const std::string zip = CompressFolderActivity::zipNameForId("42");
    const std::string part = CompressFolderActivity::partNameFor(zip);
    ZipJournal::record(folder, zip);
    ZipJournal::record(folder, CompressFolderActivity::zipNameForId("43"));
    const std::string finished = m_temp.write("share/sub/" + zip, "z");
    const std::string partial = m_temp.write("share/sub/" + part, "p");
    // Another zip name in the same folder was never recorded: it stays.
    const std::string other =
        m_temp.write("share/sub/" + CompressFolderActivity::zipNameForId("44"), "o");
    const std::string mine = m_temp.write("share/sub/notes.txt", "n");
    ZipJournal::close();

    EXPECT_EQ(2, ZipJournal::recover(journal()));
    EXPECT_FALSE(exists(finished));
    EXPECT_FALSE(exists(partial));
    EXPECT_TRUE(exists(other));
    EXPECT_TRUE(exists(mine));
    EXPECT_EQ(0u, Poco::File(journal()).getSize());
}

TEST_F(ZipJournalTest, DamagedEntriesRemoveNothing) {
    const std::string victim = m_temp.write("share/important.txt", "keep");
    const std::string linked =
        m_temp.path() + "/share/" + CompressFolderActivity::zipNameForId("1");
    ASSERT_EQ(0, ::symlink(victim.c_str(), linked.c_str()));
    std::string text = victim + '\0' + "relative/" + CompressFolderActivity::zipNameForId("2") +
                       '\0' + linked + '\0' + m_temp.path() + "/share/Orvane_Zip_../x" + '\0';
    {
        std::ofstream out(journal(), std::ios::binary);
        out << text;
    }
    EXPECT_EQ(0, ZipJournal::recover(journal()));
    EXPECT_TRUE(exists(victim));
    EXPECT_TRUE(exists(linked));
}

}  // namespace
