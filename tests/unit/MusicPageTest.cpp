// The music player page: which files make the play list, the song
// addresses below sub-folders, the tabs and write-only pieces, and names
// that try to leave the play list's script strings.
#include <Poco/NumberParser.h>

#include <algorithm>

#include "SharePageFixture.h"
#include "orvane/Customization.h"
#include "orvane/ProfileManager.h"

using namespace SharePageTest;

namespace {

struct Song {
    std::string name;
    std::string mp3;
};

// Reads back one JavaScript string literal in double quotes starting at pos
// (just after the opening quote); pos ends after the closing quote.
std::string readJSString(const std::string& text, std::size_t& pos) {
    std::string out;
    while (pos < text.size() && text[pos] != '"') {
        char c = text[pos++];
        if (c != '\\') {
            out += c;
            continue;
        }
        c = text[pos++];
        if (c == 'u') {
            const unsigned code = Poco::NumberParser::parseHex(text.substr(pos, 4));
            pos += 4;
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else if (code < 0x800) {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            } else {
                out += static_cast<char>(0xE0 | (code >> 12));
                out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
        } else {
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
    }
    ++pos;
    return out;
}

// The play list array as the page's script holds it.
std::vector<Song> playList(const std::string& page) {
    const std::string open = "var myPlayList = [";
    std::size_t pos = page.find(open);
    EXPECT_NE(std::string::npos, pos);
    std::vector<Song> songs;
    if (pos == std::string::npos)
        return songs;
    pos += open.size();
    while (page.compare(pos, 2, "];") != 0) {
        const std::string head = songs.empty() ? "{name:\"" : ",{name:\"";
        if (page.compare(pos, head.size(), head) != 0) {
            ADD_FAILURE() << "unexpected play list text at " << page.substr(pos, 40);
            break;
        }
        pos += head.size();
        Song song;
        song.name = readJSString(page, pos);
        EXPECT_EQ(0, page.compare(pos, 6, ",mp3:\""));
        pos += 6;
        song.mp3 = readJSString(page, pos);
        EXPECT_EQ('}', page[pos]);
        ++pos;
        songs.push_back(song);
    }
    return songs;
}

class MusicPage : public ShareFixture {
protected:
    void SetUp() override {
        Orvane::CustomizationManager().clear();
        ShareFixture::SetUp();
    }

    std::string music(const std::string& folder, const std::string& shareName,
                      const std::string& subPath, bool writeAccess = false,
                      const std::string& guestName = "") {
        return m_plugin->getMusicList(m_temp->path() + "/" + folder, !subPath.empty(), shareName,
                                      subPath, writeAccess, guestName, "share");
    }

    static std::vector<std::string> names(const std::vector<Song>& songs) {
        std::vector<std::string> out;
        for (const Song& s : songs)
            out.push_back(s.name);
        return out;
    }
};

TEST_F(MusicPage, PlayListHoldsMp3AndMP3FilesOnly) {
    for (const char* name :
         {"b.MP3", "a.mp3", "c.Mp3", "d.mp3.txt", "e.ogg", ".hidden.mp3", "noext"})
        m_temp->write(std::string("tunes/") + name, "x");
    m_temp->mkdir("tunes/folder.mp3");
    const std::vector<Song> songs = playList(music("tunes", "tunes", ""));
    EXPECT_EQ((std::vector<std::string>{"a.mp3", "b.MP3"}), names(songs));
    ASSERT_EQ(2u, songs.size());
    EXPECT_EQ("/app/dapplinepro/share/tunes/a.mp3", songs[0].mp3);
    EXPECT_EQ("/app/dapplinepro/share/tunes/b.MP3", songs[1].mp3);
}

TEST_F(MusicPage, SongsPlayInNameOrder) {
    for (const char* name : {"10 Ten.mp3", "02 Two.mp3", "01 One.mp3", "B.mp3", "a.mp3"})
        m_temp->write(std::string("album/") + name, "x");
    EXPECT_EQ(
        (std::vector<std::string>{"01 One.mp3", "02 Two.mp3", "10 Ten.mp3", "B.mp3", "a.mp3"}),
        names(playList(music("album", "album", ""))));
}

TEST_F(MusicPage, SubFolderWithASpaceIsEncodedInEveryAddress) {
    m_temp->write("music/Live Sets/It's Me.mp3", "x");
    m_temp->write("music/Live Sets/a&b #1.mp3", "x");
    const std::string page = music("music/Live Sets", "music", "Live Sets/");
    const std::vector<Song> songs = playList(page);
    ASSERT_EQ(2u, songs.size());
    EXPECT_EQ("It's Me.mp3", songs[0].name);
    EXPECT_EQ("/app/dapplinepro/share/music/Live%20Sets/It%27s%20Me.mp3", songs[0].mp3);
    EXPECT_EQ("a&b #1.mp3", songs[1].name);
    EXPECT_EQ("/app/dapplinepro/share/music/Live%20Sets/a%26b%20%231.mp3", songs[1].mp3);
    EXPECT_TRUE(contains(page, "<div id=\"location\">music/Live Sets/</div>"));
    EXPECT_TRUE(contains(page,
                         "<div id=\"tab_navi\"><a id=\"files\" "
                         "href='/app/dapplinepro/share/music/Live%20Sets/?vm=list&am=share'>Files</"
                         "a><a id=\"gallery\" "
                         "href='/app/dapplinepro/share/music/Live%20Sets/"
                         "?vm=gallery&am=share'>Gallery</a><a id=\"music_active\" "
                         "href='/app/dapplinepro/share/music/Live%20Sets/"
                         "?vm=music&am=share'>Music</a></div>"));
}

TEST_F(MusicPage, EmptyFolderStillShowsThePlayerAndTheMusicTab) {
    m_temp->write("docs/readme.txt", "x");
    const std::string page = music("docs", "docs", "");
    EXPECT_TRUE(contains(page, "var myPlayList = [];"));
    EXPECT_FALSE(contains(page, "##JPLAYLIST##"));
    EXPECT_TRUE(contains(page, "id=\"music_active\""));
    EXPECT_TRUE(contains(page, "<div id=\"jquery_jplayer\"></div>"));
    EXPECT_TRUE(contains(page, "<div id=\"jplayer_playlist\" class=\"jp-playlist\"><ul><li></li>"));
}

TEST_F(MusicPage, HeadScriptsAndThePlayerControls) {
    m_temp->write("tunes/a.mp3", "x");
    const std::string page = music("tunes", "tunes", "");
    EXPECT_EQ(0u, page.find("<!doctype html><html><head>"));
    EXPECT_TRUE(contains(page, "<title>Orvane Dappline</title>\r\n\r\n<style type=\"text/css\">"));
    const std::size_t css = page.find(
        "<link rel=\"stylesheet\" href=\"/app/dapplinepro/jplayerdapplinepro.css\" "
        "type=\"text/css\" media=\"screen\" /> ");
    const std::size_t handlers = page.find("/app/dapplinepro/js/handlers.js\"");
    const std::size_t jquery = page.find("/app/dapplinepro/js/jquery.js\"");
    const std::size_t player = page.find("/app/dapplinepro/js/jquery.jplayer.min.js\"");
    ASSERT_NE(std::string::npos, css);
    EXPECT_LT(css, handlers);
    EXPECT_LT(handlers, jquery);
    EXPECT_LT(jquery, player);
    EXPECT_LT(player, page.find("var myPlayList"));
    for (const char* id : {"jplayer_play", "jplayer_pause", "jplayer_stop", "jplayer_volume_min",
                           "jplayer_volume_max", "jplayer_previous", "jplayer_next",
                           "jplayer_load_bar", "jplayer_play_bar", "jplayer_volume_bar",
                           "jplayer_volume_bar_value", "jplayer_play_time", "jplayer_total_time"})
        EXPECT_EQ(1u, countOf(page, std::string("id=\"") + id + "\"")) << id;
    EXPECT_TRUE(contains(page, "Download Zip</a></div></li></ul></div></div><br/><br/>"));
    EXPECT_TRUE(contains(page, "<div id=\"dpb_content_wrapper\" align=\"center\">"));
    EXPECT_TRUE(contains(page, "\"  style=\"color: gray; text-decoration: underline;\">you can"));
    EXPECT_TRUE(contains(page, ".</div>\r\n\r\n</div\r\n\r\n></body></html>"));
}

TEST_F(MusicPage, WriteAccessAddsUploadAndCredentialImage) {
    m_temp->write("music/Live Sets/a.mp3", "x");
    const std::string page = music("music/Live Sets", "music", "Live Sets/", true, "writer");
    EXPECT_TRUE(contains(page, "<div id=\"swfcontent_link\""));
    EXPECT_TRUE(contains(page, "<img src='/app/dapplinepro/force_auth.gif'/></img></body></html>"));
    EXPECT_TRUE(contains(page, "&dirname=music/Live%20Sets/&sharename=music&" +
                                   Orvane::API::ProfileManager::generateURLAuth("writer")));
    const std::string reader = music("music/Live Sets", "music", "Live Sets/");
    EXPECT_FALSE(contains(reader, "swfcontent_link"));
    EXPECT_FALSE(contains(reader, "force_auth.gif"));
}

TEST_F(MusicPage, ServedForTheMusicViewOfAShare) {
    m_temp->write("songs/a.mp3", "x");
    addShare("songs", "songs", 1, "MUSIC");
    const TestSupport::Reply r = get("songs/");
    EXPECT_EQ(200, r.status);
    EXPECT_EQ((std::vector<std::string>{"a.mp3"}), names(playList(r.body)));
    EXPECT_TRUE(contains(get("songs/", "vm=gallery").body, "id=\"gallery_active\""));
}

TEST_F(MusicPage, NamesStayInsideTheirScriptStrings) {
    const std::vector<std::string> hostile = {"<!--<script><svg onload=alert(1)>.mp3",
                                              "\",mp3:\"javascript:alert(2)\"}.mp3",
                                              "back\\slash\\.mp3", "line\nbreak.mp3",
                                              "sep\xE2\x80\xA8"
                                              "ar.mp3"};
    for (const std::string& name : hostile)
        m_temp->write("evil/" + name, "x");
    const std::string page = music("evil", "ev\"il</script>", "");
    m_temp->write("plain/a.mp3", "x");
    EXPECT_EQ(countOf(music("plain", "plain", ""), "</script"), countOf(page, "</script"));
    EXPECT_EQ(countOf(music("plain", "plain", ""), "<script"), countOf(page, "<script"));
    EXPECT_EQ(countOf(music("plain", "plain", ""), "<!--"), countOf(page, "<!--"));
    EXPECT_FALSE(contains(page, "<svg"));
    EXPECT_FALSE(contains(page, "javascript:alert(2)\"}"));
    EXPECT_FALSE(contains(page, "\xE2\x80\xA8"));
    const std::vector<Song> songs = playList(page);
    std::vector<std::string> expected = hostile;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, names(songs));
    for (const Song& song : songs) {
        const std::string prefix = "/app/dapplinepro/share/ev\"il</script>/";
        ASSERT_EQ(0u, song.mp3.find(prefix)) << song.mp3;
        EXPECT_EQ(song.name, decodeURI(song.mp3.substr(prefix.size())));
    }
    EXPECT_TRUE(contains(page, "<div id=\"location\">ev&quot;il&lt;/script&gt;/</div>"));
}

}  // namespace
