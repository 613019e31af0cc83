// The public front against the real host: waiting connections cost no
// worker, the header deadline and size, the cap per client address, the
// public headers, and forwarding headers believed only from a trusted
// proxy (127.0.0.2 plays it).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "FrontPeer.h"
#include "RunningHost.h"

namespace E2E {
namespace {

const std::string kRequest = "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n";

std::string hex(std::size_t n) {
    char text[24];
    std::snprintf(text, sizeof(text), "%zx", n);
    return text;
}

TEST(PublicFront, IdleAndSlowClientsLeaveTheWorkersFree) {
    RunningHost host;
    // Two workers: under the old thread-per-connection front, two idle
    // keep-alive connections were enough to starve everybody else.
    host.writeProperties("front.threads=2\nconnections.per.address=1000\n");
    host.start();
    std::vector<std::unique_ptr<FrontPeer>> idle, slow;
    for (int i = 0; i < 300; ++i) {
        idle.emplace_back(new FrontPeer(host.port));
        ASSERT_EQ(200, statusOf(idle.back()->get("/"))) << i;
    }
    for (int i = 0; i < 50; ++i) {
        slow.emplace_back(new FrontPeer(host.port));
        ASSERT_TRUE(slow.back()->send("GET / HTTP/1.1\r\nHost: localhost\r\nX-Slow: "));
    }
    for (int i = 0; i < 10; ++i) {
        Answer page = host.client().get(host.sharePath + "hello.txt");
        EXPECT_EQ(200, page.status);
        EXPECT_EQ("hello world\n", page.body);
    }
    // The idle ones are still served, pipelined requests in order.
    ASSERT_TRUE(idle.front()->send(kRequest + "GET " + host.sharePath +
                                   "hello.txt HTTP/1.1\r\n"
                                   "Host: localhost\r\n\r\n"));
    const std::string first = idle.front()->answer();
    EXPECT_EQ(200, statusOf(first)) << first;
    const std::string second = idle.front()->answer();
    EXPECT_NE(std::string::npos, second.find("hello world"));
}

TEST(PublicFront, HeaderDeadlineAndSizeAndTheCapPerAddress) {
    RunningHost host;
    host.writeProperties("header.timeout.seconds=2\nconnections.per.address=8\n");
    host.start();
    const auto started = std::chrono::steady_clock::now();
    FrontPeer late(host.port);
    ASSERT_TRUE(late.send("GET / HTTP/1.1\r\nHost: localhost\r\n"));
    EXPECT_EQ(408, statusOf(late.answer()));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1500));

    FrontPeer large(host.port);
    large.send("GET / HTTP/1.1\r\nHost: localhost\r\nX-Big: " + std::string(70000, 'a') +
               "\r\n\r\n");
    EXPECT_EQ(431, statusOf(large.answer()));

    // Eight connections are served; the ninth from the same address is
    // closed unanswered. (Polled: the two above may still be closing.)
    bool capped = pollUntil(
        [&] {
            std::vector<std::unique_ptr<FrontPeer>> open;
            for (int i = 0; i < 8; ++i) {
                open.emplace_back(new FrontPeer(host.port));
                if (statusOf(open.back()->get("/")) != 200)
                    return false;
            }
            FrontPeer over(host.port);
            over.send(kRequest);
            return over.closesWithin(std::chrono::seconds(5));
        },
        std::chrono::seconds(20));
    EXPECT_TRUE(capped);
    EXPECT_TRUE(pollUntil([&] { return statusOf(FrontPeer(host.port).get("/")) == 200; }));
}

TEST(PublicFront, ForwardedHeadersAreBelievedOnlyFromATrustedProxy) {
    RunningHost host;
    host.start({"--trusted-proxy", "127.0.0.2/32"});
    const int guest = host.addGuest("ann", "right");
    const std::string share = host.makePrivateShare(guest);
    const std::string wrong = "Authorization: Basic YW5uOndyb25n\r\n";  // ann:wrong
    const std::string client = "X-Forwarded-For: 198.51.100.1, 203.0.113.7\r\n";
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(401, statusOf(FrontPeer(host.port, "127.0.0.2").get(share, client + wrong)));
    // The forwarded client (the right-most address) is locked out ...
    const std::string locked = FrontPeer(host.port, "127.0.0.2").get(share, client + wrong);
    EXPECT_EQ(429, statusOf(locked));
    // ... another client behind the same proxy is not ...
    EXPECT_EQ(401, statusOf(FrontPeer(host.port, "127.0.0.2")
                                .get(share, "X-Forwarded-For: 203.0.113.8\r\n" + wrong)));
    // ... and from a peer that is no proxy the header means nothing.
    const std::string direct = FrontPeer(host.port).get(share, client + wrong);
    EXPECT_EQ(401, statusOf(direct));

    // HTTPS as the proxy reports it: HSTS, only when the proxy is trusted.
    const std::string https = "X-Forwarded-Proto: https\r\n";
    const std::string proxied = FrontPeer(host.port, "127.0.0.2").get("/", https);
    EXPECT_EQ("max-age=31536000", headerOf(proxied, "Strict-Transport-Security"));
    const std::string plain = FrontPeer(host.port).get("/", https);
    EXPECT_EQ("", headerOf(plain, "Strict-Transport-Security"));
    // The public site's headers on the host's pages and the plug-in's alike
    // (the host's own pages keep their stricter DENY).
    for (const std::string* answer : {&plain, &locked, &direct}) {
        EXPECT_EQ("same-origin", headerOf(*answer, "Referrer-Policy"));
        EXPECT_EQ("nosniff", headerOf(*answer, "X-Content-Type-Options"));
    }
    EXPECT_EQ("DENY", headerOf(plain, "X-Frame-Options"));
    EXPECT_EQ("SAMEORIGIN", headerOf(direct, "X-Frame-Options"));
    EXPECT_EQ("SAMEORIGIN", headerOf(locked, "X-Frame-Options"));
}

TEST(PublicFront, BodiesFramedTwoWaysAreRefusedAndSlowBodiesCutOff) {
    RunningHost host;
    host.writeProperties("body.grace.seconds=1\nbody.min.rate=1000000\n");
    host.start();
    // Two framings (or two lengths) are how requests are smuggled: 400, closed.
    for (const std::string framing :
         {"Content-Length: 5\r\nTransfer-Encoding: chunked\r\n",
          "Content-Length: 5\r\nContent-Length: 6\r\n", "Transfer-Encoding: gzip\r\n"}) {
        FrontPeer peer(host.port);
        peer.send("POST /app/dapplinepro/x HTTP/1.1\r\nHost: localhost\r\n" + framing +
                  "\r\nhello");
        EXPECT_EQ(400, statusOf(peer.answer())) << framing;
        EXPECT_TRUE(peer.closesWithin(std::chrono::seconds(5))) << framing;
    }
    // A chunked form body is read whole: the owner's token split over chunks.
    const std::string form = "token=" + host.token;
    FrontPeer chunked(host.port);
    chunked.send(
        "POST /ui/owner/login HTTP/1.1\r\nHost: localhost\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Transfer-Encoding: chunked\r\n\r\n9\r\n" +
        form.substr(0, 9) + "\r\n" + "10;x=y\r\n" + form.substr(9, 16) + "\r\n" +
        hex(form.size() - 25) + "\r\n" + form.substr(25) + "\r\n0\r\n\r\n");
    const std::string signIn = chunked.answer();
    EXPECT_EQ(303, statusOf(signIn)) << signIn;
    EXPECT_NE(std::string::npos, signIn.find("orvane_owner=")) << signIn;
    // A body far slower than the minimum rate is cut off.
    const auto started = std::chrono::steady_clock::now();
    FrontPeer slow(host.port);
    slow.send(
        "POST /app/dapplinepro/x HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1000\r\n"
        "\r\nabc");
    EXPECT_TRUE(slow.closesWithin(std::chrono::seconds(10)));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(800));
    // HTTP/1.0 without keep-alive: answered, then closed.
    FrontPeer old(host.port);
    old.send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(200, statusOf(old.answer()));
    EXPECT_TRUE(old.closesWithin(std::chrono::seconds(5)));
}

TEST(PublicFront, SettingsThatCannotBeUsedStopTheStartNamingThem) {
    RunningHost host;
    const std::vector<std::string> serve = {"serve", "--profile", host.profileDir, "--port",
                                            std::to_string(host.port)};
    std::string output;
    host.writeProperties("header.timeout.seconds=soon\n");
    EXPECT_EQ(1, runHost(serve, output));
    EXPECT_NE(std::string::npos, output.find("header.timeout.seconds")) << output;
    host.writeProperties("proxy.trusted=10.0.0.0/33\n");
    EXPECT_EQ(1, runHost(serve, output));
    EXPECT_NE(std::string::npos, output.find("proxy.trusted")) << output;
    host.writeProperties("");
    std::vector<std::string> redirect = serve;
    redirect.insert(redirect.end(), {"--redirect-http-port", std::to_string(freePort())});
    EXPECT_EQ(1, runHost(redirect, output));
    EXPECT_NE(std::string::npos, output.find("--redirect-http-port needs TLS")) << output;
}

}  // namespace
}  // namespace E2E
