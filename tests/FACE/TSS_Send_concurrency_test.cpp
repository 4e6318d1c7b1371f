#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "TssMessages.h"

namespace RC = FACE::RETURN_CODE_TYPE;
using namespace tsstest;
using FACE::TSS::CONNECTION_ID_TYPE;

// Several threads send on one connection while another keeps looking the
// connections up, as the health reporter, the command handler and the main
// thread do in the server.
TEST(TSSConcurrency, ConcurrentSendersAndLookUpsLoseNothing) {
    Collector<idl::EventLog> got;
    FastRtps f;
    f.domainId = std::to_string(kDomainConcurrentSend);
    f.historyDepth = "1000";
    Service a("A", Document({f.set(), Connection("EventLog", "EventLog"), Connection("UTCTime", "UTCTime")}));
    Service b("B", Document({f.set(), Connection("EventLog", "EventLog")}));
    ASSERT_EQ(a.initialized, RC::NO_ERROR);
    ASSERT_EQ(b.initialized, RC::NO_ERROR);
    const CONNECTION_ID_TYPE ia = a.connect("EventLog"), ib = b.connect("EventLog");
    auto out = Typed<idl::EventLog>(a.tss);
    auto in = Typed<idl::EventLog>(b.tss);
    RC::Value code;
    out->Register_Sender(ia, code);
    ASSERT_EQ(code, RC::NO_ERROR);
    in->Register_Callback(ib, got.callback(), code);
    ASSERT_EQ(code, RC::NO_ERROR);
    ASSERT_TRUE(WaitMatched(*a.tss, ia, *b.tss, ib));

    const int senders = 4;
    const int perSender = 150;
    std::atomic<int> failures{0};
    std::atomic<bool> sending{true};
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s) {
        threads.emplace_back([&, s] {
            for (int i = 0; i < perSender; ++i) {
                RC::Value rc;
                FACE::TSS::TRANSACTION_ID_TYPE t = 0;
                out->Send_Message(ia, -1, t, MakeEvent(s * 1000 + i, std::to_string(s) + ":" + std::to_string(i)), rc);
                if (rc != RC::NO_ERROR) {
                    ++failures;
                }
            }
        });
    }
    std::thread lookUps([&] {
        while (sending) {
            RC::Value rc;
            FACE::TSS::CONNECTION_ID_TYPE id = -1;
            FACE::TSS::MESSAGE_SIZE_TYPE size = 0;
            a.tss->Create_Connection("UTCTime", -1, id, size, rc);
            if (rc != RC::NO_ERROR || id != 1) {
                ++failures;
            }
        }
    });
    for (auto& t : threads) {
        t.join();
    }
    sending = false;
    lookUps.join();
    EXPECT_EQ(failures.load(), 0);

    ASSERT_TRUE(got.waitFor(senders * perSender, std::chrono::seconds(30)));
    std::set<std::string> texts;
    for (const auto& d : got.deliveries()) {
        texts.insert(d.message.eventlog());
    }
    EXPECT_EQ(texts.size(), static_cast<std::size_t>(senders * perSender));
}
