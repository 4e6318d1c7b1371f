#include "boardkit/Board.h"

#include <chrono>
#include <exception>

#include "ASPN/HealthReporter.h"
#include "boardkit/SimDevmem.h"
#include "boardkit/UtcMessages.h"
#include "platform/FPGA.h"

namespace boardkit {

ScriptedBoard::ScriptedBoard(const FpgaImageContents& contents) : image(contents) {
    // Neither daemon runs, as on a board just started.
    host.answer("pidof ntpd > /dev/null", {256});
    host.answer("pidof ptp4l > /dev/null", {256});
}

ChronavelPlatform ScriptedBoard::platform() {
    ChronavelPlatform p;
    p.timeHost = &host;
    p.ntpMemory = &ntp;
    p.makeIoService = [this] { return std::make_shared<FACE::IOSS::QV_Devmem>(image.imagePath()); };
    return p;
}

std::string ScriptedBoard::writeConfiguration(const ServerSettings& s) {
    std::string connections = s.dds.set() + Connection("EventLog", "EventLog") +
                              Connection("Response", "CommandResponse") +
                              Connection("UTCTime", "UTCTime");
    if (s.withCommand) {
        connections += Connection("Command", "CommandResponse");
    }
    const std::string serverSet =
        Set("Chronavel", {{"Connections", dir.write("connections.xml", Document(connections))},
                          {"IODevices", image.ioDevicesPath()},
                          {"Debug", s.debug ? "TRUE" : "FALSE"},
                          {"PRI", "0"},
                          {"CPU", "0"},
                          {"PARAM_1", s.quietNtp ? "TRUE" : "FALSE"},
                          {"PARAM_2", s.sourceServerId},
                          {"PARAM_3", std::to_string(s.enableRegister)},
                          {"PARAM_4", std::to_string(s.pulseSelectRegister)},
                          {"PARAM_5", "0x5"},
                          {"PARAM_6", "/dev/ptp0"},
                          {"PARAM_7", "37"},
                          {"PARAM_8", "1000"},
                          {"PARAM_9", s.ppsCount}});
    return dir.write("Chronavel.xml",
                     Document(Set("Quorvane", {{"System", "TestSys"}, {"Configuration", "Bench"}}) +
                              serverSet));
}

void ScriptedBoard::setFpgaTicks(uint64_t ticks) {
    static const std::string block = fpgablock::kTimestamp;  // named once: tests count allocations around it
    image.poke(block, fpgablock::kSystemCountOffset, 64, ticks);
}

aspn2_msgs::idl::UTCTime ScriptedBoard::second(int i, double nsec, uint32_t serverId) {
    // The edge of the whole second nearest the message's time.
    host.setEdge({static_cast<time_t>(kUtcBase + i + (nsec >= 5e8 ? 1 : 0)), 1500, static_cast<pps_seq_t>(i + 1)});
    setFpgaTicks(static_cast<uint64_t>(1000 + i) * FpgaFace::TICKS_PER_SECOND +
                 FpgaFace::TICKS_PER_SECOND / 4);
    aspn2_msgs::idl::UTCTime m = gpsMessage(kUtcBase + i, nsec, 1e-16, 1000 + i, 0);
    m.header().device_id(static_cast<int32_t>(serverId << 16));
    return m;
}

const shmTime* ScriptedBoard::ntpRecord(int unit) const {
    return static_cast<const shmTime*>(ntp.record(NtpSegmentsGuard::key(unit)));
}

SimulatedBoard::SimulatedBoard(double rate, const SimOptions& options)
    : m_time(rate), m_host(m_time, options), m_dir("chronavel-sim") {}

SimulatedBoard::~SimulatedBoard() = default;

ChronavelPlatform SimulatedBoard::platform(std::function<std::string()> ioDevicesFile) {
    ChronavelPlatform p;
    p.timeHost = &m_host;
    p.makeIoService = [this, ioDevicesFile] { return makeIoService(ioDevicesFile()); };
    return p;
}

std::shared_ptr<FACE::IOSS::QV_Devmem> SimulatedBoard::makeIoService(const std::string& ioDevicesFile) {
    const std::string path = m_dir.file("fpga.img");
    try {
        m_image = std::make_unique<FpgaImage>(path, readIoDevices(ioDevicesFile));
        report("FPGA register image " + path + " with the windows of " + ioDevicesFile);
    } catch (const std::exception& e) {
        report(std::string("no FPGA register image: ") + e.what());
    }
    return std::make_shared<SimDevmem>(path, m_time, m_host);
}

std::vector<std::string> drainEvents() {
    std::vector<std::string> events;
    int type = 0;
    std::string text;
    while (HealthReporter::Instance().Queue().pop_front(type, text, std::chrono::nanoseconds(0))) {
        events.push_back(std::to_string(type) + ":" + text);
    }
    return events;
}

}  // namespace boardkit
