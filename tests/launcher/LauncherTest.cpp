// Runs the built launcher in prepared installations. Every run waits five
// seconds before it looks at the folder, so the scenarios of the tests being
// run are prepared and run at once, one process and folder each, and the
// tests then examine them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "Installation.h"

namespace {

const std::string kStart = "(Re)Starting Orvane..";
const std::string kFallback = "Failed loading manifest.xml.rep, trying manifest.xml";
const std::string kNoManifest = "Failed loading manifest.xml";
const std::string kReinstall = "Unable to launch application. Please reinstall application!";
const std::string kOldManifest = manifestListing({"old.txt"});

std::vector<std::string> updated(const std::string& replacement) {
    return {"Updating " + replacement, "Deleting " + replacement};
}

std::vector<std::string> concat(std::vector<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::set<std::string> names(const Snapshot& snapshot) {
    std::set<std::string> result;
    for (const auto& entry : snapshot) {
        result.insert(entry.first);
    }
    return result;
}

// A pending update with every file also carrying a replacement; only the
// marker is missing.
void prepareNoMarker(Installation& in) {
    in.write("manifest.xml", kOldManifest);
    in.write("manifest.xml.rep", manifestListing({"app.bin"}));
    in.write("app.bin", "old", 0755);
    in.write("app.bin.rep", "new");
}

void prepareFallback(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml", manifestListing({"lib/libcore.so", "data.txt"}));
    in.write("lib/libcore.so", "old core");
    in.write("lib/libcore.so.rep", "new core");
    in.write("data.txt", "old data");
    in.write("data.txt.rep", "new data");
}

void prepareNoManifest(Installation& in) {
    in.write("doupdate", "");
    in.write("a.txt", "old");
    in.write("a.txt.rep", "new");
}

void prepareManifestsWithoutFiles(Installation& in) {
    prepareNoManifest(in);
    in.write("manifest.xml.rep", "<Manifest><Files><File Path=\"a.txt\"/></Files></Manifest>");
    in.write("manifest.xml", "<OrvaneManifest><Other Path=\"a.txt\"/></OrvaneManifest>");
}

void prepareBrokenManifests(Installation& in) {
    prepareNoManifest(in);
    in.write("manifest.xml.rep", "<OrvaneManifest><Files><File Path=\"a.txt\"/>");
    in.write("manifest.xml", "");
}

std::string bigContent() {
    std::string content(3 * (1 << 20) + 7, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131) % 251);
    }
    return content;
}

const char kFullManifest[] = R"(<?xml version="1.0"?>
<OrvaneManifest>
  <Files>
    <!-- the program first -->
    <File Path="bin/orvane"/>
    text between elements
    <File Path="lib/big.so"/>
    <File/>
    <File Path="unchanged.txt"/>
    <Library Path="plugins/new.so"/>
    <File Path="notes.txt"/>
    <File Path="empty.dat"/>
  </Files>
</OrvaneManifest>
)";

void prepareFullUpdate(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml", kOldManifest);
    in.write("manifest.xml.rep", kFullManifest);
    in.write("bin/orvane", "old program", 0755);
    in.write("bin/orvane.rep", "new program", 0644);
    in.write("lib/big.so", "small");
    in.write("lib/big.so.rep", bigContent());
    in.write("unchanged.txt", "as it was");
    in.write("plugins/new.so.rep", "brand new", 0755);
    in.write("notes.txt", "old notes", 0654);
    in.write("notes.txt.rep", "new notes", 0755);
    in.write("empty.dat", "old bytes");
    in.write("empty.dat.rep", "");
}

// "blocked" is a folder, which no one can replace with a file.
void prepareUnwritable(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml", kOldManifest);
    in.write("manifest.xml.rep", manifestListing({"first.txt", "blocked", "last.txt"}));
    in.write("first.txt", "old first");
    in.write("first.txt.rep", "new first");
    in.write("blocked/inside.txt", "kept");
    in.write("blocked.rep", "new blocked");
    in.write("last.txt", "old last");
    in.write("last.txt.rep", "new last");
}

// A folder opens for reading but yields no bytes, so the copy fails half way.
void prepareUnreadable(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml.rep", manifestListing({"conf.txt"}));
    in.write("conf.txt", "old conf");
    in.makeFolder("conf.txt.rep");
}

void prepareReadOnly(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml.rep", manifestListing({"locked.txt"}));
    in.write("locked.txt", "old locked", 0444);
    in.write("locked.txt.rep", "new locked");
}

void prepareUnsafe(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml.rep", manifestListing({"../outside.txt", in.root() + "/abs.txt",
                                                  "sub/../../outside.txt", "odd..name.txt"}));
    in.write("../outside.txt", "old outside");
    in.write("../outside.txt.rep", "new outside");
    in.write("../abs.txt", "old abs");
    in.write("../abs.txt.rep", "new abs");
    in.makeFolder("sub");
    in.write("odd..name.txt", "old odd");
    in.write("odd..name.txt.rep", "new odd");
}

// The launcher replacing itself while it runs.
void prepareSelfUpdate(Installation& in) {
    in.write("doupdate", "");
    in.write("manifest.xml.rep", manifestListing({"launcher"}));
    in.write("launcher.rep", "#!/bin/sh\necho next version\n", 0644);
}

const std::vector<std::pair<std::string, std::function<void(Installation&)>>> kScenarios = {
    {"NoMarker", prepareNoMarker},
    {"Fallback", prepareFallback},
    {"NoManifest", prepareNoManifest},
    {"ManifestsWithoutFiles", prepareManifestsWithoutFiles},
    {"BrokenManifests", prepareBrokenManifests},
    {"FullUpdate", prepareFullUpdate},
    {"Unwritable", prepareUnwritable},
    {"Unreadable", prepareUnreadable},
    {"ReadOnly", prepareReadOnly},
    {"Unsafe", prepareUnsafe},
    {"SelfUpdate", prepareSelfUpdate},
};

// The scenarios each test examines: when only some tests run (ctest runs
// each in a process of its own), only theirs are prepared and run.
const std::map<std::string, std::vector<std::string>> kScenariosOfTest = {
    {"WithoutMarkerOnlyStartsAndChangesNothing", {"NoMarker"}},
    {"FallsBackToInstalledManifest", {"Fallback"}},
    {"UnreadableManifestsKeepTheUpdatePending",
     {"NoManifest", "ManifestsWithoutFiles", "BrokenManifests"}},
    {"AppliesReplacementsInManifestOrder", {"FullUpdate"}},
    {"ReplacedFilesHoldTheNewContent", {"FullUpdate"}},
    {"ExecuteBitsFollowTheReplacedFile", {"FullUpdate"}},
    {"FinishedUpdateLeavesNoMarkerReplacementsOrTemporaries", {"FullUpdate"}},
    {"FailedCopyStopsAndKeepsTheRest", {"Unwritable"}},
    {"FailedCopyLeavesNoPartialFileBehind", {"Unreadable"}},
    {"ReadOnlyDestinationIsNotReplaced", {"ReadOnly"}},
    {"PathsLeavingTheFolderAreSkipped", {"Unsafe"}},
    {"ReplacesItsOwnProgramWhileRunning", {"SelfUpdate"}},
};

// The scenarios of the suite's tests that are to run.
std::set<std::string> scenariosToRun() {
    std::set<std::string> wanted;
    const ::testing::TestSuite* suite = ::testing::UnitTest::GetInstance()->current_test_suite();
    for (int i = 0; suite != nullptr && i < suite->total_test_count(); ++i) {
        const ::testing::TestInfo* test = suite->GetTestInfo(i);
        if (!test->should_run())
            continue;
        const auto uses = kScenariosOfTest.find(test->name());
        if (uses == kScenariosOfTest.end()) {
            ADD_FAILURE() << test->name() << " names no scenario in kScenariosOfTest";
            continue;
        }
        wanted.insert(uses->second.begin(), uses->second.end());
    }
    return wanted;
}

struct Scenario {
    std::unique_ptr<Installation> installation;
    Snapshot before;
    LauncherRun run;
};

class LauncherTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::set<std::string> wanted = scenariosToRun();
        for (const auto& entry : kScenarios) {
            if (!wanted.count(entry.first))
                continue;
            Scenario& scenario = s_scenarios[entry.first];
            scenario.installation = std::make_unique<Installation>(LAUNCHER_PROGRAM);
            entry.second(*scenario.installation);
            scenario.before = scenario.installation->snapshot();
        }
        std::vector<std::thread> threads;
        for (auto& entry : s_scenarios) {
            Scenario* scenario = &entry.second;
            threads.emplace_back([scenario] { scenario->run = scenario->installation->run(); });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    }
    static void TearDownTestSuite() { s_scenarios.clear(); }

    static const Scenario& scenario(const std::string& name) { return s_scenarios.at(name); }
    static const Installation& folder(const std::string& name) {
        return *scenario(name).installation;
    }
    static void expectRun(const std::string& name, int exitStatus,
                          const std::vector<std::string>& lines) {
        SCOPED_TRACE(name);
        const LauncherRun& run = scenario(name).run;
        EXPECT_EQ(run.exitStatus, exitStatus);
        EXPECT_EQ(run.lines, lines);
        EXPECT_TRUE(run.endsWithLineEnd);
    }

    static std::map<std::string, Scenario> s_scenarios;
};

std::map<std::string, Scenario> LauncherTest::s_scenarios;

TEST_F(LauncherTest, WithoutMarkerOnlyStartsAndChangesNothing) {
    expectRun("NoMarker", 0, {kStart});
    EXPECT_EQ(folder("NoMarker").snapshot(), scenario("NoMarker").before);
}

TEST_F(LauncherTest, FallsBackToInstalledManifest) {
    expectRun(
        "Fallback", 0,
        concat({{kStart, kFallback}, updated("lib/libcore.so.rep"), updated("data.txt.rep")}));
    const Installation& in = folder("Fallback");
    EXPECT_EQ(in.read("lib/libcore.so"), "new core");
    EXPECT_EQ(in.read("data.txt"), "new data");
    EXPECT_EQ(in.read("manifest.xml"), scenario("Fallback").before.at("manifest.xml").content);
    EXPECT_EQ(names(in.snapshot()), (std::set<std::string>{"data.txt", "launcher", "lib/",
                                                           "lib/libcore.so", "manifest.xml"}));
}

TEST_F(LauncherTest, UnreadableManifestsKeepTheUpdatePending) {
    for (const char* name : {"NoManifest", "ManifestsWithoutFiles", "BrokenManifests"}) {
        SCOPED_TRACE(name);
        expectRun(name, 1, {kStart, kFallback, kNoManifest, kReinstall});
        EXPECT_EQ(folder(name).snapshot(), scenario(name).before);
    }
}

TEST_F(LauncherTest, AppliesReplacementsInManifestOrder) {
    expectRun("FullUpdate", 0,
              concat({{kStart},
                      updated("bin/orvane.rep"),
                      updated("lib/big.so.rep"),
                      updated("plugins/new.so.rep"),
                      updated("notes.txt.rep"),
                      updated("empty.dat.rep")}));
}

TEST_F(LauncherTest, ReplacedFilesHoldTheNewContent) {
    const Installation& in = folder("FullUpdate");
    EXPECT_EQ(in.read("bin/orvane"), "new program");
    EXPECT_EQ(in.read("lib/big.so"), bigContent());
    EXPECT_EQ(in.read("unchanged.txt"), "as it was");
    EXPECT_EQ(in.read("plugins/new.so"), "brand new");
    EXPECT_EQ(in.read("empty.dat"), "");
    EXPECT_EQ(in.read("manifest.xml"), kFullManifest);
}

TEST_F(LauncherTest, ExecuteBitsFollowTheReplacedFile) {
    const Installation& in = folder("FullUpdate");
    EXPECT_EQ(in.mode("bin/orvane"), 0755u);
    // Owner may not execute it, so group execute does not count.
    EXPECT_EQ(in.mode("notes.txt"), 0644u);
    // A new file never becomes executable and is readable by its owner only.
    EXPECT_EQ(in.mode("plugins/new.so") & 0177, 0u);
    EXPECT_EQ(in.mode("plugins/new.so") & 0600, 0600u);
}

TEST_F(LauncherTest, FinishedUpdateLeavesNoMarkerReplacementsOrTemporaries) {
    EXPECT_EQ(names(folder("FullUpdate").snapshot()),
              (std::set<std::string>{"bin/", "bin/orvane", "empty.dat", "launcher", "lib/",
                                     "lib/big.so", "manifest.xml", "notes.txt", "plugins/",
                                     "plugins/new.so", "unchanged.txt"}));
}

TEST_F(LauncherTest, FailedCopyStopsAndKeepsTheRest) {
    expectRun("Unwritable", 1,
              concat({{kStart},
                      updated("first.txt.rep"),
                      {"Updating blocked.rep", "Failed Copying blocked.rep", kReinstall}}));
    const Installation& in = folder("Unwritable");
    Snapshot expected = scenario("Unwritable").before;
    expected.erase("first.txt.rep");
    expected["first.txt"].content = "new first";
    EXPECT_EQ(in.snapshot(), expected);
}

TEST_F(LauncherTest, FailedCopyLeavesNoPartialFileBehind) {
    expectRun("Unreadable", 1,
              {kStart, "Updating conf.txt.rep", "Failed Copying conf.txt.rep", kReinstall});
    EXPECT_EQ(folder("Unreadable").snapshot(), scenario("Unreadable").before);
}

TEST_F(LauncherTest, ReadOnlyDestinationIsNotReplaced) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write to read-only files";
    }
    expectRun("ReadOnly", 1,
              {kStart, "Updating locked.txt.rep", "Failed Copying locked.txt.rep", kReinstall});
    EXPECT_EQ(folder("ReadOnly").snapshot(), scenario("ReadOnly").before);
}

TEST_F(LauncherTest, PathsLeavingTheFolderAreSkipped) {
    const Installation& in = folder("Unsafe");
    expectRun("Unsafe", 0,
              concat({{kStart, "Skipping unsafe path ../outside.txt",
                       "Skipping unsafe path " + in.root() + "/abs.txt",
                       "Skipping unsafe path sub/../../outside.txt"},
                      updated("odd..name.txt.rep")}));
    EXPECT_EQ(in.read("../outside.txt"), "old outside");
    EXPECT_EQ(in.read("../outside.txt.rep"), "new outside");
    EXPECT_EQ(in.read("../abs.txt"), "old abs");
    EXPECT_EQ(in.read("../abs.txt.rep"), "new abs");
    EXPECT_EQ(in.read("odd..name.txt"), "new odd");
}

TEST_F(LauncherTest, ReplacesItsOwnProgramWhileRunning) {
    expectRun("SelfUpdate", 0, concat({{kStart}, updated("launcher.rep")}));
    const Installation& in = folder("SelfUpdate");
    EXPECT_EQ(in.read("launcher"), "#!/bin/sh\necho next version\n");
    EXPECT_EQ(in.mode("launcher"), 0755u);
    EXPECT_FALSE(in.exists("launcher.rep"));
}

}  // namespace
