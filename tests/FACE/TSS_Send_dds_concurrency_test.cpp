#include <set>

#include "support/TssTestSupport.h"

using namespace tsstest;

// Several threads send on one connection while another creates and looks up
// connections, as the health reporter, the command handler and the main
// thread do in the server.
TEST(TSSConcurrency, ConcurrentSendersAndLookUpsLoseNothing) {
    // UDP: shared-memory segments are handed between threads inside the
    // uninstrumented library, where ThreadSanitizer cannot see it.
    FastRtps f(kDomainConcurrentSend, "UDP");
    f.historyDepth = "1000";
    Service a("A", f), b("B", f);
    Link<idl::EventLog> link(a, b, "EventLog");
    ASSERT_TRUE(link.matched());
    const int senders = 4, perSender = 150;
    std::atomic<int> failures{0};
    std::atomic<bool> sending{true};
    std::thread lookUps([&] {
        while (sending) failures += a.connect("UTCTime") != 1;
    });
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([&, s] {
            for (int i = 0; i < perSender; ++i) {
                failures += link.send(Event(s * 1000 + i, std::to_string(s) + ":" + std::to_string(i))) != RC::NO_ERROR;
            }
        });
    }
    for (auto& t : threads) t.join();
    sending = false;
    lookUps.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(link.got.waitFor(senders * perSender, std::chrono::seconds(30)));
    std::set<std::string> texts;
    for (const auto& d : link.got.deliveries()) texts.insert(d.message.eventlog());
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(senders * perSender));
}
