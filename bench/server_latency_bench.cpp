// What the server adds to the latency of a UTCTime message in steady state
// (PPS settled, past the last start-up step: each message only feeds ntpd),
// from a peer's write until the server has written the NTP shared-memory
// sample. The baseline, measured in the same run over the same transport,
// is the plain one-way latency of the same message to a bare subscriber
// whose callback only takes the time. Each transport runs twice: the
// server and its peer unsecured, then secured with the demonstration PKI
// (authenticated, access-controlled, data encrypted); the last lines give
// the secured server's latency as a ratio of the unsecured one's.
//
// Both ends are stamped on the receiving thread: the bare callback, and the
// server's PPS fetch, its last call before it writes the sample. The sender
// then spins until it sees the complete sample (count up by two, valid, the
// message's second) or the callback's mark; that view is printed too, but
// cannot end before the sender's own write has returned.
//
// The paths alternate, one message every gap, so both see the same machine
// and the server is never behind. The sender runs on CPU 0, everything else
// on the other CPUs, so its spinning never delays the delivery it waits
// for. Each round has participants and a server of its own (where the
// library's threads land moves a whole round); percentiles are pooled.
//
//   server_latency_bench [samples per path and round, default 2000]
//                        [rounds, default 1] [gap in µs, default 1000]
//
// Run it in a private IPC namespace (unshare -i): the server creates the NTP
// segments, and those that were not there before are removed again.
#include <sched.h>

#include <fastrtps/attributes/LibrarySettingsAttributes.h>
#include <fastrtps/xmlparser/XMLProfileManager.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ServerOnFakePlatform.h"
#include "boardkit/UtcMessages.h"
#include "boardkit/DdsPeer.h"

namespace {

using aspn2_msgs::idl::UTCTime;
using benchsupport::nowNs;

bool g_pinned = false;

// Until done() holds; false after a second without it.
template <typename Done>
bool spinUntil(Done done) {
    const int64_t deadline = nowNs() + 1000000000;
    while (!done()) {
        if (nowNs() > deadline) {
            return false;
        }
        if (!g_pinned) {
            std::this_thread::yield();  // the receiving thread may need this CPU
        }
    }
    return true;
}

bool pin(int first, int last) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int cpu = first; cpu <= last; ++cpu) {
        CPU_SET(cpu, &set);
    }
    return sched_setaffinity(0, sizeof set, &set) == 0;
}

double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(samples.size() * fraction))];
}

// Microseconds from the write to the receiving thread's stamp, and to the
// sender seeing the result.
struct Latency {
    std::vector<double> received, seen;
    void add(int64_t start, int64_t stamp, int64_t end) {
        received.push_back(static_cast<double>(stamp - start) / 1e3);
        seen.push_back(static_cast<double>(end - start) / 1e3);
    }
    void append(const Latency& other) {
        received.insert(received.end(), other.received.begin(), other.received.end());
        seen.insert(seen.end(), other.seen.begin(), other.seen.end());
    }
};

// One transport: the server with its peer's UTCTime writer, and on the same
// domain a writer and the bare subscriber on a topic of their own.
class Case {
public:
    // With a PKI the server and its peer are secured; the bare pair never is.
    Case(const std::string& transport, uint32_t domain, const std::string& pki)
        : m_server(benchsupport::Secured(benchsupport::Dds(domain, transport), pki, "server")),
          m_peer("Platform", document(domain, transport, pki, "source")),
          m_writer("Writer", document(domain, transport)),
          m_bare("Bare", document(domain, transport)) {}
    ~Case() {
        boardkit::RC::Value code;
        m_bare.tss->Unregister_Callback(m_bareIn, code);
    }

    // Connected, matched and in steady state; or what went wrong.
    std::string prepare() {
        if (m_peer.initialized != boardkit::RC::NO_ERROR || m_writer.initialized != boardkit::RC::NO_ERROR ||
            m_bare.initialized != boardkit::RC::NO_ERROR) {
            return "a DDS participant could not be made";
        }
        const std::string failed = m_server.start();
        if (!failed.empty()) {
            return failed + " failed";
        }
        m_serverOut = m_peer.connect("UTCTime");
        m_serverTs = boardkit::Typed<UTCTime>(m_peer, m_serverOut);
        m_plainOut = m_writer.connect("PlainUTCTime");
        m_plainTs = boardkit::Typed<UTCTime>(m_writer, m_plainOut);
        m_bareIn = m_bare.connect("PlainUTCTime");
        m_bareTs = boardkit::Typed<UTCTime>(m_bare, -1, m_bareIn,
                                           [this](int64_t, int64_t, const UTCTime& m, const FACE::TSS::HEADER_TYPE&,
                                                  const FACE::TSS::QoS_EVENT_TYPE&, boardkit::RC::Value&) {
                                               m_arrivedAt.store(nowNs(), std::memory_order_relaxed);
                                               m_arrived.store(m.header().seq_num(), std::memory_order_release);
                                           });
        auto& toServer = boardkit::At(*m_peer.tss, m_serverOut);
        if (!boardkit::WaitMatched(*m_writer.tss, m_plainOut, *m_bare.tss, m_bareIn) ||
            !boardkit::WaitUntil([&] { return toServer.publisherListener()->matched() > 0; })) {
            return "the endpoints never matched";
        }
        const TimeServiceController& ts = m_server.server.timeService();
        while (!(ts.isPpsSettled() && ts.getStepCounter() >= benchsupport::kSteadyStep)) {
            const int32_t step = ts.getStepCounter();
            if (m_next > 200 || !send(*m_serverTs, m_serverOut, m_server.second(m_next++)) ||
                !boardkit::WaitUntil([&] { return ts.getStepCounter() != step; })) {
                return "the controller never reached its steady state";
            }
        }
        return ts.getNtpSession().shm_clock != nullptr ? "" : "no NTP segment linked";
    }

    bool serverPath() {
        const volatile shmTime* shm = m_server.server.timeService().getNtpSession().shm_clock;
        const int i = m_next++;
        const UTCTime m = m_server.second(i);
        const time_t second = static_cast<time_t>(benchsupport::kUtcBase + i);
        const int count = shm->count;
        const int64_t start = nowNs();
        if (!send(*m_serverTs, m_serverOut, m) ||
            !spinUntil([&] { return shm->count == count + 2 && shm->valid == 1 && shm->clockTimeStampSec == second; })) {
            return false;
        }
        std::atomic_thread_fence(std::memory_order_acquire);  // pairs with the barrier before count
        server.add(start, m_server.host.fetchedAt.load(std::memory_order_relaxed), nowNs());
        return true;
    }

    bool plainPath() {
        const int i = m_nextPlain++;
        const UTCTime m = m_server.message(i);
        const int64_t start = nowNs();
        if (!send(*m_plainTs, m_plainOut, m) ||
            !spinUntil([&] { return m_arrived.load(std::memory_order_acquire) == i; })) {
            return false;
        }
        plain.add(start, m_arrivedAt.load(std::memory_order_relaxed), nowNs());
        return true;
    }

    Latency plain, server;

private:
    static std::string document(uint32_t domain, const std::string& transport, const std::string& pki = "",
                                const char* identity = "") {
        const boardkit::FastRtps dds = benchsupport::Secured(benchsupport::Dds(domain, transport), pki, identity);
        return boardkit::Document(dds.set() + boardkit::Connection("UTCTime", "UTCTime") +
                                 boardkit::Connection("PlainUTCTime", "UTCTime"));
    }
    static bool send(FACE::TSS::TypedTS<UTCTime>& ts, FACE::TSS::CONNECTION_ID_TYPE id, const UTCTime& m) {
        return boardkit::Send(ts, id, m) == boardkit::RC::NO_ERROR;
    }

    benchsupport::ServerOnFakePlatform m_server;
    boardkit::Service m_peer, m_writer, m_bare;
    FACE::TSS::CONNECTION_ID_TYPE m_serverOut = -1, m_plainOut = -1, m_bareIn = -1;
    boardkit::TypedPtr<UTCTime> m_serverTs, m_plainTs, m_bareTs;
    std::atomic<int64_t> m_arrived{-1};
    std::atomic<int64_t> m_arrivedAt{0};
    int m_next = 0, m_nextPlain = 0;
};

// The server's p50 and p99 go to serverPercentiles.
bool run(const char* transport, uint32_t domain, int samples, int rounds, std::chrono::microseconds gap,
         const std::string& pki, double serverPercentiles[2]) {
    Latency plain, server;
    for (int r = 0; r < rounds; ++r) {
        Case c(transport, domain, pki);
        const std::string error = c.prepare();
        if (!error.empty()) {
            std::fprintf(stderr, "server_latency_bench %s: %s\n", transport, error.c_str());
            return false;
        }
        bool ok = true;
        std::thread sender([&] {
            g_pinned = g_pinned && pin(0, 0);
            for (int n = -samples / 10; n < samples && ok; ++n) {  // the first tenth warms up
                const bool plainFirst = (n & 1) == 0;               // neither profits from the other
                ok = plainFirst ? c.plainPath() : c.serverPath();
                std::this_thread::sleep_for(gap);
                ok = ok && (plainFirst ? c.serverPath() : c.plainPath());
                std::this_thread::sleep_for(gap);
                if (n == -1) {
                    c.plain = c.server = Latency();
                }
            }
        });
        sender.join();
        if (!ok) {
            std::fprintf(stderr, "server_latency_bench %s: a message never arrived\n", transport);
            return false;
        }
        plain.append(c.plain);
        server.append(c.server);
    }
    const std::string name = std::string(transport) + (pki.empty() ? "" : " sec");
    const auto line = [&name](const char* label, double p50, double p99, const char* format = "%8.1f%8.1f\n") {
        std::printf("%-8s %-44s", name.c_str(), label);
        std::printf(format, p50, p99);
    };
    const double p50 = percentile(plain.received, 0.5), p99 = percentile(plain.received, 0.99);
    const double s50 = percentile(server.received, 0.5), s99 = percentile(server.received, 0.99);
    line("plain one-way, to the bare callback (base)", p50, p99);
    line("server, to its sample write", s50, s99);
    line("ratio server / plain", s50 / p50, s99 / p99, "%8.3f%8.3f\n");
    line("added by the server", s50 - p50, s99 - p99);
    line("as the sender sees it: plain", percentile(plain.seen, 0.5), percentile(plain.seen, 0.99));
    line("as the sender sees it: server, sample valid", percentile(server.seen, 0.5), percentile(server.seen, 0.99));
    std::fflush(stdout);
    serverPercentiles[0] = s50;
    serverPercentiles[1] = s99;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 1;
    const std::chrono::microseconds gap(argc > 3 ? std::atoi(argv[3]) : 1000);
    if (samples < 10 || rounds < 1 || gap.count() < 0) {
        std::fprintf(stderr, "usage: server_latency_bench [samples >= 10] [rounds >= 1] [gap in us]\n");
        return 1;
    }
    // All ends live in this process; without this the library would hand
    // samples over in memory and no transport would be measured.
    eprosima::fastrtps::LibrarySettingsAttributes library;
    library.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
    eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(library);
    // Every thread started from here on inherits the other CPUs; the
    // sender's own thread moves to CPU 0.
    const int cpus = static_cast<int>(std::thread::hardware_concurrency());
    g_pinned = cpus > 1 && pin(1, cpus - 1);

    boardkit::NtpSegmentsGuard segments;  // before anything links a segment
    std::printf("UTCTime latency in us, %d messages per path and transport (%d round(s) of fresh participants), "
                "one every %lld us\n",
                samples * rounds, rounds, static_cast<long long>(gap.count()));
    std::printf("%-8s %-44s%8s%8s\n", "", "", "p50", "p99");
    // The secured server (authenticated, access-controlled, data encrypted)
    // beside the unsecured one, over each transport.
    boardkit::TempDir pki("chronavel-bench-pki");
    benchsupport::MakeDemoPki(pki.path());
    bool ok = true;
    double ratios[2][2] = {};
    const char* transports[] = {"SHM", "UDP"};
    for (int t = 0; t < 2; ++t) {
        double unsecured[2] = {}, secured[2] = {};
        ok = run(transports[t], 230 + t, samples, rounds, gap, "", unsecured) && ok;
        ok = run(transports[t], 230 + t, samples, rounds, gap, pki.path(), secured) && ok;
        ratios[t][0] = secured[0] / unsecured[0];
        ratios[t][1] = secured[1] / unsecured[1];
    }
    for (int t = 0; t < 2; ++t) {
        std::printf("%-8s %-44s%8.3f%8.3f\n", transports[t], "ratio secured / unsecured server", ratios[t][0],
                    ratios[t][1]);
    }
    return ok ? 0 : 1;
}
