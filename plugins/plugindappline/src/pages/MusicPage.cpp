// The music player page: the shared header and tabs, and the audio player
// whose play list holds the folder's MP3 files. Names reach the page only
// inside the play list's script strings, escaped for them; the player
// writes them into the document as text.
#include <Poco/URI.h>

#include <set>

#include "core/DapplinePlugin.h"
#include "pages/PagePieces.h"

namespace Orvane {
namespace Dappline {

namespace {

const char* const CRLF = "\r\n";

// The share address of the folder: the share name as a link path, the path
// inside it URI-encoded with only the characters the encoder always escapes.
std::string musicBase(const std::string& shareURL, const std::string& shareName,
                      const std::string& subPath) {
    std::string encodedSubPath;
    Poco::URI::encode(subPath, "", encodedSubPath);
    return shareURL + Page::encodeLinkPath(shareName) + "/" + encodedSubPath;
}

// The songs, in name order so that numbered tracks play as numbered.
std::set<std::string> songNames(const std::string& folder) {
    std::set<std::string> names;
    if (folder.empty())
        return names;
    for (const Page::FolderEntry& entry : Page::allowedEntries(folder)) {
        if (entry.isDirectory)
            continue;
        if (Page::isMusicExtension(Page::extensionOf(entry.name)))
            names.insert(entry.name);
    }
    return names;
}

std::string playListEntries(const std::set<std::string>& names, const std::string& base) {
    std::string out;
    for (const std::string& name : names) {
        out += (out.empty() ? "{name:\"" : ",{name:\"") + Page::escapeJSString(name) + "\",mp3:\"" +
               Page::escapeJSString(base + Page::encodeURIName(name)) + "\"}";
    }
    return out;
}

std::string playerScript(const std::string& entries) {
    return "$(document).ready(function(){\n"
           "var playItem = 0;\n"
           "var myPlayList = [" +
           entries +
           "];\n"
           "var jpPlayTime = $(\"#jplayer_play_time\");\n"
           "var jpTotalTime = $(\"#jplayer_total_time\");\n"
           "$(\"#jquery_jplayer\").jPlayer({\n"
           " ready: function() { displayPlayList(); playListInit(false); },\n"
           " oggSupport: false,\n"
           " swfPath: \"/app/dapplinepro/js/\"\n"
           "})\n"
           ".jPlayer(\"onProgressChange\", function(loadPercent, playedPercentRelative, "
           "playedPercentAbsolute, playedTime, totalTime) {\n"
           " jpPlayTime.text($.jPlayer.convertTime(playedTime));\n"
           " jpTotalTime.text($.jPlayer.convertTime(totalTime));\n"
           "})\n"
           ".jPlayer(\"onSoundComplete\", function() {\n"
           " setTimeout(function() { $(\"#jplayer_next\").click(); }, 300);\n"
           "});\n"
           "$(\"#jplayer_previous\").click(function() { playListPrev(); $(this).blur(); return "
           "false; });\n"
           "$(\"#jplayer_next\").click(function() { playListNext(); $(this).blur(); return false; "
           "});\n"
           "function displayPlayList() {\n"
           " var list = $(\"#jplayer_playlist ul\").empty();\n"
           " $.each(myPlayList, function(i, song) {\n"
           "  var item = $(\"<li></li>\");\n"
           "  if (i == myPlayList.length - 1) item.addClass(\"jplayer_playlist_item_last\");\n"
           "  var link = $(\"<a href='#'></a>\").attr(\"id\", \"jplayer_playlist_item_\" + "
           "i).text(song.name);\n"
           "  link.click(function() {\n"
           "   if (playItem != i) { playListChange(i); } else { "
           "$(\"#jquery_jplayer\").jPlayer(\"play\"); }\n"
           "   $(this).blur(); return false;\n"
           "  });\n"
           "  list.append(item.append(link));\n"
           " });\n"
           "}\n"
           "function playListInit(autoplay) {\n"
           " if (!myPlayList.length) return;\n"
           " if (autoplay) { playListChange(playItem); } else { playListConfig(playItem); }\n"
           "}\n"
           "function playListConfig(index) {\n"
           " $(\"#jplayer_playlist_item_\" + "
           "playItem).removeClass(\"jplayer_playlist_current\").parent().removeClass("
           "\"jplayer_playlist_current\");\n"
           " $(\"#jplayer_playlist_item_\" + "
           "index).addClass(\"jplayer_playlist_current\").parent().addClass("
           "\"jplayer_playlist_current\");\n"
           " playItem = index;\n"
           " $(\"#jquery_jplayer\").jPlayer(\"setFile\", myPlayList[playItem].mp3);\n"
           "}\n"
           "function playListChange(index) {\n"
           " playListConfig(index);\n"
           " $(\"#jquery_jplayer\").jPlayer(\"play\");\n"
           "}\n"
           "function playListNext() {\n"
           " if (!myPlayList.length) return;\n"
           " playListChange(playItem + 1 < myPlayList.length ? playItem + 1 : 0);\n"
           "}\n"
           "function playListPrev() {\n"
           " if (!myPlayList.length) return;\n"
           " playListChange(playItem - 1 >= 0 ? playItem - 1 : myPlayList.length - 1);\n"
           "}\n"
           "});\n";
}

std::string musicHead(const Page::PageFrame& frame, const std::string& entries) {
    const std::string base = Page::IMAGE_BASE;
    return "<!doctype html><html><head>" + Page::metaElements(false) + "<title>" +
           Page::escapeHTML(frame.productName) + " Dappline</title>" + CRLF + CRLF +
           Page::styleElement(frame.css) + "<link rel=\"stylesheet\" href=\"" + base + "/" +
           "jplayerdapplinepro.css" + "\" type=\"text/css\" media=\"screen\" /> " +
           Page::uploadScriptElements() + "<script type=\"text/javascript\" src=\"" + base +
           "/js/jquery.js\"></script>" + "<script type=\"text/javascript\" src=\"" + base +
           "/js/jquery.jplayer.min.js\"></script>" + "<script language='javascript'><!--\n" +
           Page::spinnerFunctions() + Page::uploadSettingsScript(frame.uploadURL) +
           Page::toggleLayerFunction() + playerScript(entries) + "//-->\n</script>" + "</head>" +
           CRLF + CRLF + "<body>" + CRLF + CRLF;
}

std::string controlLink(const std::string& id, const std::string& cssClass,
                        const std::string& label) {
    return "<li><a href=\"#\" id=\"" + id + "\" class=\"" + cssClass + "\" title=\"" + label +
           "\">" + label + "</a></li>";
}

std::string playerMarkup() {
    return "<br/><br/><div id=\"jquery_jplayer\"></div>"
           "<div class=\"jp-playlist-player\"><div class=\"jp-interface\">"
           "<ul class=\"jp-controls\">" +
           controlLink("jplayer_play", "jp-play", "play") +
           controlLink("jplayer_pause", "jp-pause", "pause") +
           controlLink("jplayer_stop", "jp-stop", "stop") +
           controlLink("jplayer_volume_min", "jp-volume-min", "min volume") +
           controlLink("jplayer_volume_max", "jp-volume-max", "max volume") +
           controlLink("jplayer_previous", "jp-previous", "previous") +
           controlLink("jplayer_next", "jp-next", "next") + "</ul>" +
           "<div class=\"jp-progress\"><div id=\"jplayer_load_bar\" class=\"jp-load-bar\">"
           "<div id=\"jplayer_play_bar\" class=\"jp-play-bar\"></div></div></div>"
           "<div id=\"jplayer_volume_bar\" class=\"jp-volume-bar\">"
           "<div id=\"jplayer_volume_bar_value\" class=\"jp-volume-bar-value\"></div></div>"
           "<div id=\"jplayer_play_time\" class=\"jp-play-time\"></div>"
           "<div id=\"jplayer_total_time\" class=\"jp-total-time\"></div>"
           "</div>"
           "<div id=\"jplayer_playlist\" class=\"jp-playlist\"><ul><li></li></ul></div>"
           "</div>";
}

std::string musicBody(const Page::PageFrame& frame) {
    return Page::headerStart(frame) + Page::zipItem(false) + "</ul></div></div><br/><br/>" +
           Page::tabBar(frame, Page::Tab::Music, true) +
           "<div id=\"dappline_box\"><div id=\"dpb_header\"><div id=\"location\">" +
           Page::escapeHTML(frame.location) + "</div></div>" +
           "<div id=\"dpb_content_wrapper\" align=\"center\">" + playerMarkup() +
           "<div id=\"dpb_content\"><div></div></div></div>" +
           "<div id=\"dpb_footer\">&nbsp;</div></div></div></div>";
}

}  // namespace

std::string DapplinePlugin::getMusicList(const std::string& folder, bool inSubfolder,
                                         const std::string& shareName, const std::string& subPath,
                                         bool writeAccess, const std::string& guestName,
                                         const std::string& am) {
    Page::PageFrame frame =
        Page::makePageFrame(*this, folder, shareName, subPath, writeAccess, guestName, am);
    frame.tabBase = musicBase(getShareURL(), shareName, subPath);
    // The play list goes straight into the script; a marker replaced later
    // could also be part of a name.
    return musicHead(frame, playListEntries(songNames(folder), frame.tabBase)) + musicBody(frame) +
           Page::footer(frame, true) + Page::pageEnd(frame);
}

}  // namespace Dappline
}  // namespace Orvane
