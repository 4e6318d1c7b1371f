// Encoding and decoding of the three messages the server exchanges, through
// the generic field-list walk and through straight-line Fast CDR code
// written here for comparison only. Prints generic/straight-line ratios at
// the end of the run.

#include "aspn2_msgs/Messages.h"

#include <benchmark/benchmark.h>
#include <fastcdr/Cdr.h>
#include <fastcdr/FastBuffer.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace aspn2_msgs::idl;
using eprosima::fastcdr::Cdr;
using eprosima::fastcdr::FastBuffer;

namespace {

// ---- straight-line reference code ----

void writeHeader(Cdr& c, const header& h)
{
    c << h.seq_num();
    c << h.timestamp_arrival().sec() << h.timestamp_arrival().nsec() << h.timestamp_arrival().time_code();
    c << h.timestamp_valid().sec() << h.timestamp_valid().nsec() << h.timestamp_valid().time_code();
    c << h.device_id();
}

void readHeader(Cdr& c, header& h)
{
    c >> h.seq_num();
    c >> h.timestamp_arrival().sec() >> h.timestamp_arrival().nsec() >> h.timestamp_arrival().time_code();
    c >> h.timestamp_valid().sec() >> h.timestamp_valid().nsec() >> h.timestamp_valid().time_code();
    c >> h.device_id();
}

void straightWrite(Cdr& c, const UTCTime& m)
{
    writeHeader(c, m.header());
    c << m.gps_tow_sec() << m.gps_tow_nsec() << m.gps_week() << m.utc_tod_sec() << m.utc_tod_nsec() << m.a1();
    c << m.covariance();
}

void straightRead(Cdr& c, UTCTime& m)
{
    readHeader(c, m.header());
    c >> m.gps_tow_sec() >> m.gps_tow_nsec() >> m.gps_week() >> m.utc_tod_sec() >> m.utc_tod_nsec() >> m.a1();
    c >> m.covariance();
}

void straightWrite(Cdr& c, const CommandResponse& m)
{
    writeHeader(c, m.header());
    c << m.commanded_device_id() << m.command_identifier();
    c << static_cast<uint32_t>(m.command_response_type());
    c << m.command_response();
}

void straightRead(Cdr& c, CommandResponse& m)
{
    readHeader(c, m.header());
    c >> m.commanded_device_id() >> m.command_identifier();
    uint32_t type = 0;
    c >> type;
    m.command_response_type(static_cast<command_response_type_enum>(type));
    c >> m.command_response();
}

void straightWrite(Cdr& c, const EventLog& m)
{
    writeHeader(c, m.header());
    c << static_cast<uint32_t>(m.event_log_type());
    c << m.eventlog();
}

void straightRead(Cdr& c, EventLog& m)
{
    readHeader(c, m.header());
    uint32_t type = 0;
    c >> type;
    m.event_log_type(static_cast<event_log_type_enum>(type));
    c >> m.eventlog();
}

// ---- samples ----

header sampleHeader()
{
    header h;
    h.seq_num(123456);
    h.timestamp_arrival().sec(1700000000);
    h.timestamp_arrival().nsec(250000000);
    h.timestamp_arrival().time_code(100);
    h.timestamp_valid() = h.timestamp_arrival();
    h.device_id(0x032C0100);
    return h;
}

template <class T>
T sample();

template <>
UTCTime sample<UTCTime>()
{
    UTCTime m;
    m.header(sampleHeader());
    m.gps_tow_sec(345600);
    m.gps_tow_nsec(1.0e8);
    m.gps_week(2290);
    m.utc_tod_sec(43200);
    m.utc_tod_nsec(1.0e8);
    m.a1(1e-12);
    m.covariance({{{1e-18, 0.0}, {0.0, 1e-18}}});
    return m;
}

template <>
CommandResponse sample<CommandResponse>()
{
    CommandResponse m;
    m.header(sampleHeader());
    m.commanded_device_id(0x032C0200);
    m.command_identifier(7);
    m.command_response_type(COMMAND_RESPONSE_TYPE_RESPONSE);
    m.command_response("BITSERVER_PING_PASS");
    return m;
}

template <>
EventLog sample<EventLog>()
{
    EventLog m;
    m.header(sampleHeader());
    m.event_log_type(EVENT_LOG_TYPE_STATUS);
    m.eventlog("Chronavel step 30: PHC set to TAI, offset 37 s, settled after 12 pulses");
    return m;
}

// ---- cases ----

struct Generic {
    template <class T>
    static void write(Cdr& c, const T& m) { m.serialize(c); }
    template <class T>
    static void read(Cdr& c, T& m) { m.deserialize(c); }
};

struct StraightLine {
    template <class T>
    static void write(Cdr& c, const T& m) { straightWrite(c, m); }
    template <class T>
    static void read(Cdr& c, T& m) { straightRead(c, m); }
};

template <class T, class Codec>
void Encode(benchmark::State& state)
{
    const T m = sample<T>();
    std::vector<char> buffer(4 + T::getMaxCdrSerializedSize(0));
    for (auto _ : state) {
        FastBuffer fast(buffer.data(), buffer.size());
        Cdr cdr(fast, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
        cdr.serialize_encapsulation();
        Codec::write(cdr, m);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
}

template <class T, class Codec>
void Decode(benchmark::State& state)
{
    std::vector<char> buffer(4 + T::getMaxCdrSerializedSize(0));
    FastBuffer out(buffer.data(), buffer.size());
    Cdr writer(out, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
    writer.serialize_encapsulation();
    sample<T>().serialize(writer);
    const std::size_t length = writer.getSerializedDataLength();

    T m;
    for (auto _ : state) {
        FastBuffer fast(buffer.data(), length);
        Cdr cdr(fast, Cdr::DEFAULT_ENDIAN, Cdr::DDS_CDR);
        cdr.read_encapsulation();
        Codec::read(cdr, m);
        benchmark::DoNotOptimize(&m);
        benchmark::ClobberMemory();
    }
}

BENCHMARK_TEMPLATE(Encode, UTCTime, StraightLine);
BENCHMARK_TEMPLATE(Encode, UTCTime, Generic);
BENCHMARK_TEMPLATE(Decode, UTCTime, StraightLine);
BENCHMARK_TEMPLATE(Decode, UTCTime, Generic);
BENCHMARK_TEMPLATE(Encode, CommandResponse, StraightLine);
BENCHMARK_TEMPLATE(Encode, CommandResponse, Generic);
BENCHMARK_TEMPLATE(Decode, CommandResponse, StraightLine);
BENCHMARK_TEMPLATE(Decode, CommandResponse, Generic);
BENCHMARK_TEMPLATE(Encode, EventLog, StraightLine);
BENCHMARK_TEMPLATE(Encode, EventLog, Generic);
BENCHMARK_TEMPLATE(Decode, EventLog, StraightLine);
BENCHMARK_TEMPLATE(Decode, EventLog, Generic);

// Console output as usual, then one ratio per case.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With --benchmark_repetitions, the fastest repetition counts:
            // it is the one least disturbed by other work on the machine.
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                auto [it, fresh] = m_cpu.emplace(run.benchmark_name(), run.GetAdjustedCPUTime());
                if (!fresh && run.GetAdjustedCPUTime() < it->second) {
                    it->second = run.GetAdjustedCPUTime();
                }
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\ngeneric / straight-line (CPU time):\n");
        for (const auto& [name, cpu] : m_cpu) {
            const std::string::size_type at = name.find("Generic");
            if (at == std::string::npos) {
                continue;
            }
            const std::string reference = name.substr(0, at) + "StraightLine" + name.substr(at + 7);
            auto found = m_cpu.find(reference);
            if (found != m_cpu.end() && found->second > 0) {
                std::printf("  %-28s %.3f\n", (name.substr(0, at - 2) + ">").c_str(), cpu / found->second);
            }
        }
    }

private:
    std::map<std::string, double> m_cpu;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
