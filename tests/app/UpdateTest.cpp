#include "app/Update.h"
#include "app/UpdateDialog.h"

#include "core/System.h"
#include "platform/FakeTcpNetwork.h"
#include "tests/gui/GuiTest.h"
#include "tests/support/TestUtil.h"

#include <filesystem>
#include <sys/stat.h>

using platform::FakePeer;
using platform::FakeTcpNetwork;
using testutil::LogCapture;
using testutil::TempDir;

namespace {

const char* const FEED = "<rss><item><enclosure xversion=\"Halbrook 2.0\" url=\"http://h:8080/"
                         "get/setup-2.0.bin?x=1\" length=\"10\" releaseNotesUrl=\"http://h/n\"/>"
                         "</item></rss>";

std::string ok(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + body;
}

TEST(UpdateFeed, ReadsTheFirstEnclosureInOrder) {
    struct Row {
        const char* feed;
        bool ok;
        const char* logLine;
    };
    const Row rows[] = {
        {FEED, true, ""},
        {"<enclosure url=\"u\" version=\"v\" length=\"1\" releaseNotesUrl=\"n\"", false,
         "Update(245)"},
        {"<item version=\"v\"/>", false, "Update(232)"},
        {"<enclosure version=\"v\" url=\"u\" length=\"ten\" releaseNotesUrl=\"n\"", false,
         "Update(253)"},
        // An empty answer would pass for a whole installer of no bytes.
        {"<enclosure version=\"v\" url=\"u\" length=\"0\" releaseNotesUrl=\"n\"", false,
         "Update(253)"},
        {"<enclosure version=\"v\" url=\"u\" length=\"1\" releaseNotesUrl=\"n", false,
         "Update(30)"},
    };
    for (const Row& row : rows) {
        LogCapture log;
        UpdateInfo info;
        EXPECT_EQ(Update::parseFeed(row.feed, info), row.ok) << row.feed;
        EXPECT_TRUE(log.has(row.logLine)) << row.feed << '\n' << log.text();
    }
    UpdateInfo info;
    ASSERT_TRUE(Update::parseFeed(FEED, info));
    EXPECT_EQ(info.version, "Halbrook 2.0");
    EXPECT_EQ(info.length, 10u);
    EXPECT_EQ(info.releaseNotesUrl, "http://h/n");
    EXPECT_EQ(Update::installerName(info.url), "setup-2.0.bin");
    EXPECT_EQ(Update::installerName("http://h/dir/.."), "installer");
}

TEST(UpdateUrl, HonoursAnExplicitPort) {
    struct Row {
        const char* url;
        bool ok;
        const char* host;
        u16 port;
        const char* path;
    };
    const Row rows[] = {
        {"http://example.org/feed.xml", true, "example.org", 80, "/feed.xml"},
        {"127.0.0.1:8080/a/b", true, "127.0.0.1", 8080, "/a/b"},
        {"http://h", true, "h", 80, "/"},
        {"http://[::1]:81/x", true, "::1", 81, "/x"},
        {"https://h/x", false, "", 0, ""},
        {"http://h:0/x", false, "", 0, ""},
        {"http://h:99999/x", false, "", 0, ""},
        {"http://:80/x", false, "", 0, ""},
    };
    for (const Row& row : rows) {
        Update::Address a;
        ASSERT_EQ(Update::parseUrl(row.url, a), row.ok) << row.url;
        if (row.ok) {
            EXPECT_EQ(a.host, row.host);
            EXPECT_EQ(a.port, row.port);
            EXPECT_EQ(a.path, row.path);
        }
    }
}

class UpdateFetch : public ::testing::Test {
protected:
    void SetUp() override { update.setTimeouts(20, 200); }
    std::shared_ptr<FakePeer> peer(u16 port = 8080) { return net.peer("h", port); }
    FakeTcpNetwork net;
    Update update{net};
};

TEST_F(UpdateFetch, OnlyACompleteAnswer200WithinTheLimitCounts) {
    struct Row {
        const char* name;
        std::string response;
        std::size_t chunk;
        std::size_t stallAfter;
        bool refuse;
        bool ok;
        const char* logLine;
    };
    const std::size_t never = ~std::size_t(0);
    const Row rows[] = {
        {"plain", ok("body"), 1000, never, false, true, ""},
        {"header byte by byte", ok("body"), 1, never, false, true, ""},
        {"not found", "HTTP/1.0 404 Not Found\r\n\r\n" + std::string(FEED), 1000, never, false,
         false, "Update(144)"},
        {"status 2000", "HTTP/1.0 2000 OK\r\n\r\nbody", 1000, never, false, false, "Update(144)"},
        {"closed before the header", "HTTP/1.0 200", 1000, never, false, false, "Update(148)"},
        {"over the limit", ok(std::string(17, 'x')), 5, never, false, false, "Update(146)"},
        {"silent server", ok("body"), 1000, 10, false, false, "Update(140): timeout"},
        {"refused", "", 1000, never, true, false, "Update(125)"},
    };
    for (const Row& row : rows) {
        auto p = peer();
        p->response = row.response;
        p->chunk = row.chunk;
        p->stallAfter = row.stallAfter;
        p->refuse = row.refuse;
        p->request.clear();
        LogCapture log;
        StreamString sink;
        EXPECT_EQ(update.httpGet("http://h:8080/feed.xml", sink, 16, 0), row.ok) << row.name;
        EXPECT_TRUE(log.has(row.logLine)) << row.name << '\n' << log.text();
        if (row.ok) {
            EXPECT_EQ(sink.text(), "body") << row.name;
        }
        if (!row.refuse) {
            EXPECT_EQ(p->request, "GET /feed.xml HTTP/1.0\r\nHost: h:8080\r\n\r\n") << row.name;
        }
    }
    // An unknown host is a failure like any other, not a crash or a wait.
    StreamString sink;
    LogCapture log;
    EXPECT_FALSE(update.httpGet("http://elsewhere/feed.xml", sink, 16, 0));
    EXPECT_TRUE(log.has("Update(118)"));
}

TEST_F(UpdateFetch, ADownloadCountsOnlyAtTheAnnouncedLength) {
    TempDir dir;
    UpdateInfo info;
    info.url = "http://h:8080/get/setup.bin";
    info.length = 10;
    struct Row {
        std::string response;
        bool complete;
    };
    const Row rows[] = {{ok("012345678"), false},
                        {ok("0123456789A"), false},
                        {"HTTP/1.0 500 Oops\r\n\r\n0123456789", false},
                        {ok("0123456789"), true}};
    for (const Row& row : rows) {
        peer()->response = row.response;
        const std::string path = downloadInstaller(update, info, dir.path());
        if (!row.complete) {
            EXPECT_EQ(path, "") << row.response;
            // Neither the partial file nor its folder stays behind.
            EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << row.response;
            continue;
        }
        ASSERT_NE(path, "");
        EXPECT_EQ(testutil::readAll(path), "0123456789");
        EXPECT_EQ(pathBaseName(path.c_str()), "setup.bin");
        struct stat folder {};
        ASSERT_EQ(stat(pathDirName(path.c_str()).c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 0777, 0700u);
        EXPECT_EQ(pathDirName(pathDirName(path.c_str()).c_str()), dir.path());
    }
}

class UpdateDialogTest : public guitest::GuiTest {
protected:
    void SetUp() override {
        guitest::GuiTest::SetUp();
        if (IsSkipped())
            return;
        previous = setSystemOpenLauncher([this](const OpenTarget& t, std::string&) {
            opened.push_back(t.localPath.empty() ? t.uri : t.localPath);
            return true;
        });
    }
    void TearDown() override {
        if (!IsSkipped())
            setSystemOpenLauncher(previous);
    }
    void serveFeed(const std::string& version) {
        feed = net.peer("h", 80);
        feed->response = ok("<enclosure version=\"" + version +
                            "\" url=\"http://h:81/setup.bin\" length=\"4\" "
                            "releaseNotesUrl=\"file:///etc/passwd\"/>");
        installer = net.peer("h", 81);
        installer->response = ok("MZ!!");
    }
    FakeTcpNetwork net;
    std::shared_ptr<FakePeer> feed;
    std::shared_ptr<FakePeer> installer;
    std::vector<std::string> opened;
    SystemOpenLauncher previous;
};

TEST_F(UpdateDialogTest, OffersOnlyANewerVersionAndEscapesItsText) {
    // Off while no address is configured: not even a connection.
    serveFeed("Halbrook <9> & more");
    EXPECT_FALSE(runUpdateCheck(nullptr, "", "Halbrook 1.0", net));
    EXPECT_EQ(feed->connections, 0);
    // Texts compare byte by byte: "2.10" sorts before "2.9" and is not offered.
    serveFeed("2.10");
    EXPECT_FALSE(runUpdateCheck(nullptr, "http://h/feed.xml", "2.9", net));
    EXPECT_EQ(installer->connections, 0);

    serveFeed("Halbrook <9> & more");
    std::string shown;
    guitest::DialogScript script;
    script.on("Update", [&](GtkDialog* d) {
        for (GtkWidget* label : guitest::findWidgets(GTK_WIDGET(d), GTK_TYPE_LABEL))
            if (std::string(gtk_widget_get_name(label)) == "available")
                shown = gtk_label_get_text(GTK_LABEL(label));
        // A feed may name a local file as its notes: it is not opened.
        gtk_button_clicked(GTK_BUTTON(guitest::findButton(GTK_WIDGET(d), "_Show Release Notes")));
        gtk_dialog_response(d, GTK_RESPONSE_NO);
    });
    EXPECT_FALSE(runUpdateCheck(nullptr, "http://h/feed.xml", "Halbrook 1.0", net));
    EXPECT_TRUE(script.done());
    EXPECT_EQ(shown, "Halbrook <9> & more is available.");
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(installer->connections, 0);

    guitest::DialogScript yes;
    yes.on("Update", [](GtkDialog* d) { gtk_dialog_response(d, GTK_RESPONSE_YES); });
    EXPECT_TRUE(runUpdateCheck(nullptr, "http://h/feed.xml", "Halbrook 1.0", net));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(testutil::readAll(opened[0]), "MZ!!");
    std::filesystem::remove_all(pathDirName(opened[0].c_str()));
}

} // namespace
