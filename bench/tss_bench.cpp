// Round trip of a CommandResponse through the transport facade
// (QV_TSS + QV_TypedTS) beside the same ping-pong written directly on the
// Fast DDS participant interface, over shared memory and UDP loopback.
//
// Each transport's case alternates a direct and a facade round trip in every
// iteration and reports both medians and 99th percentiles; at the end the
// program prints them pooled over all repetitions with the facade's ratio
// to the direct version.

#include <benchmark/benchmark.h>

#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <fastrtps/Domain.h>
#include <fastrtps/attributes/LibrarySettingsAttributes.h>
#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/attributes/PublisherAttributes.h>
#include <fastrtps/attributes/SubscriberAttributes.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/publisher/PublisherListener.h>
#include <fastrtps/subscriber/SampleInfo.h>
#include <fastrtps/subscriber/Subscriber.h>
#include <fastrtps/subscriber/SubscriberListener.h>
#include <fastrtps/xmlparser/XMLProfileManager.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "FACE/QV_Config.h"
#include "FACE/QV_TSS.h"
#include "FACE/QV_TypedTS.h"
#include "aspn2_msgs/Messages.h"
#include "aspn2_msgs/PubSubTypes.h"

namespace {

using Clock = std::chrono::steady_clock;
using aspn2_msgs::idl::CommandResponse;
namespace RC = FACE::RETURN_CODE_TYPE;

constexpr int32_t kDepth = 10;

struct Result {
    double medianUs = 0;
    double p99Us = 0;
};
// Every round trip of every repetition, by transport, for the summary.
std::map<std::string, std::vector<double>> g_directUs, g_facadeUs;

// The pinger's side of the exchange: the id of the last pong seen.
class PongWaiter {
public:
    void arrived(int32_t id) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_last = id;
        }
        m_cv.notify_one();
    }
    bool wait(int32_t id) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_last == id; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int32_t m_last = -1;
};

CommandResponse Ping(int32_t id) {
    CommandResponse m;
    m.command_identifier(id);
    m.commanded_device_id(0x032C0200);
    m.command_response("BITSERVER_PING");
    return m;
}

template <typename Condition>
bool WaitUntil(Condition condition) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// One ping-pong set-up: ping(id) sends, waiter learns of the answer.
class Pair {
public:
    virtual ~Pair() = default;
    virtual bool ready() = 0;
    virtual void ping(int32_t id) = 0;
    PongWaiter waiter;
};

double Percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(samples.size() * fraction))];
}

// Alternates a direct and a facade round trip in every iteration, so that
// both see the same machine load; the manual time is the facade's.
void Measure(benchmark::State& state, const std::string& transport, Pair& direct, Pair& facade) {
    if (!WaitUntil([&] { return direct.ready() && facade.ready(); })) {
        state.SkipWithError("endpoints never matched");
        return;
    }
    int32_t id = 0;
    auto roundTrip = [&](Pair& pair, double& us) {
        const auto start = Clock::now();
        pair.ping(++id);
        if (!pair.waiter.wait(id)) {
            return false;
        }
        us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        return true;
    };
    double us = 0;
    for (int i = 0; i < 300; ++i) {  // warm-up
        if (!roundTrip(direct, us) || !roundTrip(facade, us)) {
            state.SkipWithError("no pong during warm-up");
            return;
        }
    }
    std::vector<double> directUs, facadeUs;
    bool directFirst = true;
    for (auto _ : state) {
        double d = 0, f = 0;
        // Which goes first alternates too, so neither profits from the other.
        const bool ok = directFirst ? roundTrip(direct, d) && roundTrip(facade, f)
                                    : roundTrip(facade, f) && roundTrip(direct, d);
        directFirst = !directFirst;
        if (!ok) {
            state.SkipWithError("no pong");
            return;
        }
        directUs.push_back(d);
        facadeUs.push_back(f);
        state.SetIterationTime(f / 1e6);
    }
    Result direct_{Percentile(directUs, 0.5), Percentile(directUs, 0.99)};
    Result facade_{Percentile(facadeUs, 0.5), Percentile(facadeUs, 0.99)};
    g_directUs[transport].insert(g_directUs[transport].end(), directUs.begin(), directUs.end());
    g_facadeUs[transport].insert(g_facadeUs[transport].end(), facadeUs.begin(), facadeUs.end());
    state.counters["direct_median_us"] = direct_.medianUs;
    state.counters["direct_p99_us"] = direct_.p99Us;
    state.counters["facade_median_us"] = facade_.medianUs;
    state.counters["facade_p99_us"] = facade_.p99Us;
    state.counters["ratio_median"] = facade_.medianUs / direct_.medianUs;
    state.counters["ratio_p99"] = facade_.p99Us / direct_.p99Us;
}

// ---------------------------------------------------------------------------
// Through the facade: two services in one process, one pings, one answers
// from its read callback as the server does.

std::string FacadeConfig(const std::string& transport, uint32_t domain) {
    char path[] = "/tmp/tss_benchXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        throw std::runtime_error("mkstemp");
    }
    close(fd);
    std::ofstream out(path);
    auto set = [&](const std::string& name, const std::string& params) {
        out << "<Set><Name>" << name << "</Name><Parameters>" << params << "</Parameters></Set>\n";
    };
    out << "<QV_Configurations>\n";
    set("FastRtps", "<DomainId>" + std::to_string(domain) + "</DomainId><HistoryDepth>" + std::to_string(kDepth) +
                        "</HistoryDepth><UseBestEffort>false</UseBestEffort><BackFillHistory>false</BackFillHistory>"
                        "<UseTransport>" +
                        transport + "</UseTransport><TcpAddress>127.0.0.1</TcpAddress><TcpPort>0</TcpPort>");
    for (const char* topic : {"Ping", "Pong"}) {
        set(topic, "<TopicType>aspn2_msgs::idl::CommandResponse</TopicType>"
                   "<PubSubType>CommandResponsePubSubType</PubSubType>");
    }
    out << "</QV_Configurations>\n";
    return path;
}

class FacadePair : public Pair {
public:
    using Typed = FACE::TSS::Details::QV_TypedTS<CommandResponse>;

    FacadePair(const std::string& transport, uint32_t domain) : m_path(FacadeConfig(transport, domain)) {
        m_pinger = make("Pinger");
        m_ponger = make("Ponger");
        RC::Value code;
        m_pingTs->Set_Reference("", m_pinger, 0, code);
        m_pongTs->Set_Reference("", m_ponger, 0, code);
        int64_t size = 0;
        m_pinger->Create_Connection("Ping", -1, m_pingOut, size, code);
        m_pinger->Create_Connection("Pong", -1, m_pingIn, size, code);
        m_ponger->Create_Connection("Ping", -1, m_pongIn, size, code);
        m_ponger->Create_Connection("Pong", -1, m_pongOut, size, code);

        Typed* answer = m_pongTs.get();
        const int64_t pongOut = m_pongOut;
        m_pongTs->Register_Sender(m_pongOut, code);
        m_pongTs->Register_Callback(
            m_pongIn,
            [answer, pongOut](int64_t, int64_t, const CommandResponse& m, const FACE::TSS::HEADER_TYPE&,
                              const FACE::TSS::QoS_EVENT_TYPE&, RC::Value&) {
                int64_t t = 0;
                RC::Value rc;
                answer->Send_Message(pongOut, -1, t, m, rc);
            },
            code);
        m_pingTs->Register_Sender(m_pingOut, code);
        PongWaiter* w = &waiter;
        m_pingTs->Register_Callback(
            m_pingIn,
            [w](int64_t, int64_t, const CommandResponse& m, const FACE::TSS::HEADER_TYPE&,
                const FACE::TSS::QoS_EVENT_TYPE&, RC::Value&) { w->arrived(m.command_identifier()); },
            code);
    }

    ~FacadePair() override {
        // No answers once the typed transports start to go.
        RC::Value code;
        m_ponger->Unregister_Callback(m_pongIn, code);
        m_pinger->Unregister_Callback(m_pingIn, code);
        std::remove(m_path.c_str());
    }

    bool ready() override { return matched(*m_pinger, m_pingOut, m_pingIn) && matched(*m_ponger, m_pongOut, m_pongIn); }

    void ping(int32_t id) override {
        int64_t t = 0;
        RC::Value rc;
        m_pingTs->Send_Message(m_pingOut, -1, t, Ping(id), rc);
    }

private:
    std::shared_ptr<FACE::TSS::QV_TSS> make(const char* name) {
        auto tss = std::make_shared<FACE::TSS::QV_TSS>(name);
        RC::Value code;
        tss->Set_Reference("", std::make_shared<FACE::QV_Config>(), 0, code);
        tss->Initialize(m_path.c_str(), code);
        if (code != RC::NO_ERROR) {
            throw std::runtime_error("Initialize");
        }
        return tss;
    }

    static bool matched(FACE::TSS::QV_TSS& tss, int64_t w, int64_t r) {
        auto& cw = tss.connectionMap_mutex_at(static_cast<uint32_t>(w));
        auto& cr = tss.connectionMap_mutex_at(static_cast<uint32_t>(r));
        return cw.publisherListener()->matched() > 0 && cr.subscriberListener()->matched() > 0;
    }

    std::string m_path;
    std::shared_ptr<FACE::TSS::QV_TSS> m_pinger, m_ponger;
    std::shared_ptr<Typed> m_pingTs = std::make_shared<Typed>();
    std::shared_ptr<Typed> m_pongTs = std::make_shared<Typed>();
    int64_t m_pingOut = -1, m_pingIn = -1, m_pongIn = -1, m_pongOut = -1;
};

// ---------------------------------------------------------------------------
// Directly on the library, with the same transport and QoS.

eprosima::fastrtps::ParticipantAttributes RawParticipant(const std::string& transport, uint32_t domain,
                                                         const char* name) {
    eprosima::fastrtps::ParticipantAttributes a;
    a.domainId = domain;
    a.rtps.setName(name);
    a.rtps.builtin.discovery_config.leaseDuration = eprosima::fastrtps::Duration_t(5, 0);
    a.rtps.useBuiltinTransports = false;
    if (transport == "SHM") {
        a.rtps.userTransports.push_back(std::make_shared<eprosima::fastdds::rtps::SharedMemTransportDescriptor>());
    } else {
        auto udp = std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>();
        udp->non_blocking_send = true;
        udp->interfaceWhiteList.push_back("127.0.0.1");
        a.rtps.userTransports.push_back(udp);
    }
    return a;
}

template <typename Attributes>
Attributes RawEndpoint(const char* topic, bool writer) {
    Attributes a;
    a.topic.topicKind = eprosima::fastrtps::rtps::NO_KEY;
    a.topic.topicName = topic;
    a.topic.topicDataType = "aspn2_msgs::idl::CommandResponse";
    a.topic.historyQos.kind = eprosima::fastdds::dds::KEEP_LAST_HISTORY_QOS;
    a.topic.historyQos.depth = kDepth;
    a.topic.resourceLimitsQos.max_samples = kDepth;
    a.topic.resourceLimitsQos.max_instances = 1;
    a.topic.resourceLimitsQos.max_samples_per_instance = kDepth;
    a.topic.resourceLimitsQos.allocated_samples = kDepth;
    a.qos.m_reliability.kind = eprosima::fastdds::dds::RELIABLE_RELIABILITY_QOS;
    a.qos.m_durability.kind =
        writer ? eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS : eprosima::fastdds::dds::VOLATILE_DURABILITY_QOS;
    a.historyMemoryPolicy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
    return a;
}

class RawMatched : public eprosima::fastrtps::PublisherListener {
public:
    void onPublicationMatched(eprosima::fastrtps::Publisher*, eprosima::fastrtps::rtps::MatchingInfo& info) override {
        count += info.status == eprosima::fastrtps::rtps::MATCHED_MATCHING ? 1 : -1;
    }
    std::atomic<int> count{0};
};

class RawReader : public eprosima::fastrtps::SubscriberListener {
public:
    // answer: where to echo each sample; waiter: who to tell instead.
    RawReader(eprosima::fastrtps::Publisher** answer, PongWaiter* waiter) : m_answer(answer), m_waiter(waiter) {}
    void onNewDataMessage(eprosima::fastrtps::Subscriber* sub) override {
        CommandResponse m;
        eprosima::fastrtps::SampleInfo_t info;
        if (!sub->takeNextData(&m, &info) || info.sampleKind != eprosima::fastrtps::rtps::ALIVE) {
            return;
        }
        if (m_waiter != nullptr) {
            m_waiter->arrived(m.command_identifier());
        } else {
            (*m_answer)->write(&m);
        }
    }
    void onSubscriptionMatched(eprosima::fastrtps::Subscriber*, eprosima::fastrtps::rtps::MatchingInfo& info) override {
        count += info.status == eprosima::fastrtps::rtps::MATCHED_MATCHING ? 1 : -1;
    }
    std::atomic<int> count{0};

private:
    eprosima::fastrtps::Publisher** m_answer;
    PongWaiter* m_waiter;
};

class RawPair : public Pair {
public:
    RawPair(const std::string& transport, uint32_t domain)
        : m_pingReader(&m_pongWriter, nullptr), m_pongReader(nullptr, &waiter) {
        using eprosima::fastrtps::Domain;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        m_pinger = Domain::createParticipant(RawParticipant(transport, domain, "RawPinger"));
        m_ponger = Domain::createParticipant(RawParticipant(transport, domain, "RawPonger"));
#pragma GCC diagnostic pop
        if (m_pinger == nullptr || m_ponger == nullptr) {
            throw std::runtime_error("createParticipant");
        }
        Domain::registerType(m_pinger, &m_pingerType);
        Domain::registerType(m_ponger, &m_pongerType);
        m_pongWriter = Domain::createPublisher(
            m_ponger, RawEndpoint<eprosima::fastrtps::PublisherAttributes>("Pong", true), &m_pongWriterListener);
        Domain::createSubscriber(m_ponger, RawEndpoint<eprosima::fastrtps::SubscriberAttributes>("Ping", false),
                                 &m_pingReader);
        m_pingWriter = Domain::createPublisher(
            m_pinger, RawEndpoint<eprosima::fastrtps::PublisherAttributes>("Ping", true), &m_pingWriterListener);
        Domain::createSubscriber(m_pinger, RawEndpoint<eprosima::fastrtps::SubscriberAttributes>("Pong", false),
                                 &m_pongReader);
    }

    ~RawPair() override {
        eprosima::fastrtps::Domain::removeParticipant(m_pinger);
        eprosima::fastrtps::Domain::removeParticipant(m_ponger);
    }

    bool ready() override {
        return m_pingWriterListener.count > 0 && m_pongWriterListener.count > 0 && m_pingReader.count > 0 &&
               m_pongReader.count > 0;
    }

    void ping(int32_t id) override {
        CommandResponse m = Ping(id);
        m_pingWriter->write(&m);
    }

private:
    aspn2_msgs::idl::CommandResponsePubSubType m_pingerType, m_pongerType;
    RawMatched m_pingWriterListener, m_pongWriterListener;
    eprosima::fastrtps::Publisher* m_pongWriter = nullptr;
    eprosima::fastrtps::Publisher* m_pingWriter = nullptr;
    RawReader m_pingReader;
    RawReader m_pongReader;
    eprosima::fastrtps::Participant* m_pinger = nullptr;
    eprosima::fastrtps::Participant* m_ponger = nullptr;
};

void RoundTrip(benchmark::State& state, const std::string& transport, uint32_t domain) {
    RawPair direct(transport, domain);
    FacadePair facade(transport, domain + 1);
    Measure(state, transport, direct, facade);
}

void BM_RoundTrip_SHM(benchmark::State& state) { RoundTrip(state, "SHM", 200); }
void BM_RoundTrip_UDP(benchmark::State& state) { RoundTrip(state, "UDP", 202); }

// Fresh participants per repetition: where the library's threads land
// moves a whole run's latency, more than the facade does.
BENCHMARK(BM_RoundTrip_SHM)->UseManualTime()->Iterations(4000)->Repetitions(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTrip_UDP)->UseManualTime()->Iterations(4000)->Repetitions(5)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    // Both ends live in this process; without this the library would hand
    // samples over in memory and neither transport would be measured.
    eprosima::fastrtps::LibrarySettingsAttributes settings;
    settings.intraprocess_delivery = eprosima::fastrtps::INTRAPROCESS_OFF;
    eprosima::fastrtps::xmlparser::XMLProfileManager::library_settings(settings);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Pooled over the repetitions, each with participants of its own.
    for (const char* transport : {"SHM", "UDP"}) {
        const std::vector<double>& direct = g_directUs[transport];
        const std::vector<double>& facade = g_facadeUs[transport];
        if (direct.empty() || facade.empty()) {
            continue;
        }
        const Result d{Percentile(direct, 0.5), Percentile(direct, 0.99)};
        const Result f{Percentile(facade, 0.5), Percentile(facade, 0.99)};
        std::printf("%s round trip (%zu each): direct median %.1f us p99 %.1f us; facade median %.1f us p99 %.1f us; "
                    "facade/direct median %.3f p99 %.3f\n",
                    transport, direct.size(), d.medianUs, d.p99Us, f.medianUs, f.p99Us, f.medianUs / d.medianUs,
                    f.p99Us / d.p99Us);
    }
    return 0;
}
