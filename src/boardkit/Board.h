#ifndef BOARDKIT_BOARD_H
#define BOARDKIT_BOARD_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Chronavel/Chronavel.h"
#include "aspn2_msgs/Messages.h"
#include "boardkit/ConfigFiles.h"
#include "boardkit/FpgaImage.h"
#include "boardkit/NtpSegments.h"
#include "boardkit/ProcessNtpMemory.h"
#include "boardkit/RegisterImage.h"
#include "boardkit/ScriptedHost.h"
#include "boardkit/SimHost.h"
#include "boardkit/TempDir.h"
#include "boardkit/TimeBase.h"

namespace boardkit {

// What a test, a benchmark or a fuzz target varies in the server's
// configuration; the rest is the example set of config/.
struct ServerSettings {
    FastRtps dds{200};
    std::string sourceServerId = "96";
    std::string ppsCount = "2";  // PARAM_9
    bool debug = false;
    bool quietNtp = true;     // PARAM_1
    bool withCommand = true;  // the connections file has the "Command" set
    uint32_t enableRegister = 3;
    uint32_t pulseSelectRegister = 2;
};

// A scripted board: an FPGA register image, a host that records every call
// and answers from a script, and NTP records in the memory of the process.
// Nothing of the host is touched, so boards run side by side.
class ScriptedBoard {
public:
    static constexpr int64_t kUtcBase = 1700000000;  // 2023-11-14T22:13:20Z

    explicit ScriptedBoard(const FpgaImageContents& contents = FpgaImageContents());
    ScriptedBoard(const ScriptedBoard&) = delete;
    ScriptedBoard& operator=(const ScriptedBoard&) = delete;

    // What the server runs on; the board must outlive the server.
    ChronavelPlatform platform();

    // Writes the top-level, connections and IO devices files of a server on
    // this board; returns the top-level file.
    std::string writeConfiguration(const ServerSettings& settings);

    // Second i of a healthy receiver: the PPS edge (1.5 µs late on the
    // system clock, sequence i + 1), the FPGA counter a quarter second past
    // the time of validity, and the message, from the given server.
    aspn2_msgs::idl::UTCTime second(int i, double nsec = 50.0, uint32_t serverId = 96);
    void setFpgaTicks(uint64_t ticks);

    // The NTP record of a unit, as a reader would see it; null when not made.
    const shmTime* ntpRecord(int unit) const;
    int ntpAttachments(int unit) const { return ntp.attachments(NtpSegmentsGuard::key(unit)); }

    TempDir dir;
    RegisterImage image;
    ScriptedHost host;
    ProcessNtpMemory ntp;
};

// A simulated board: the FPGA's counter counts simulated time, the clocks,
// the PPS and the daemons are SimHost's, and the NTP records are the host's
// System V segments (removed at the end when this board made them), so that
// a real ntpd or chronyd can read them.
class SimulatedBoard {
public:
    SimulatedBoard(double rate, const SimOptions& options);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // What the server runs on: its IO service is made on the windows of the
    // server's IO devices file, as read by ioDevicesFile when it is asked.
    ChronavelPlatform platform(std::function<std::string()> ioDevicesFile);

    const TimeBase& time() const { return m_time; }
    SimHost& host() { return m_host; }

private:
    std::shared_ptr<FACE::IOSS::QV_Devmem> makeIoService(const std::string& ioDevicesFile);

    NtpSegmentsGuard m_segments;
    TimeBase m_time;
    SimHost m_host;
    TempDir m_dir;
    std::unique_ptr<FpgaImage> m_image;
};

// Empties the health reporter's queue; the events as "type:text".
std::vector<std::string> drainEvents();

}  // namespace boardkit

#endif
