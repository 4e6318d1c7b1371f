#ifndef BOARDKIT_SIMDEVMEM_H
#define BOARDKIT_SIMDEVMEM_H

#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include "FACE/QV_Devmem.h"
#include "boardkit/SimHost.h"
#include "boardkit/TimeBase.h"

namespace boardkit {

// The FPGA's register windows on a register image, with the free-running
// counter computed from simulated time whenever it is read (nothing runs
// while nobody reads it). Every write is reported.
class SimDevmem final : public FACE::IOSS::QV_Devmem {
public:
    SimDevmem(const std::string& imagePath, const TimeBase& time, SimHost& host);

    void Open_Connection(const FACE::String& name, FACE::IOSS::TIMEOUT_TYPE timeout,
                         FACE::IOSS::CONNECTION_HANDLE_TYPE& handle, FACE::RETURN_CODE_TYPE::Value& code) override;
    void Read(FACE::IOSS::CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout, READ_PAYLOAD_TYPE& data,
              FACE::RETURN_CODE_TYPE::Value& code) override;
    void Write(FACE::IOSS::CONNECTION_HANDLE_TYPE handle, FACE::IOSS::TIMEOUT_TYPE timeout,
               const WRITE_PAYLOAD_TYPE& data, FACE::RETURN_CODE_TYPE::Value& code) override;

private:
    std::string nameOf(FACE::IOSS::CONNECTION_HANDLE_TYPE handle);

    const TimeBase& m_time;
    SimHost& m_host;
    std::atomic<FACE::IOSS::CONNECTION_HANDLE_TYPE> m_timestamp{-1};
    std::mutex m_mutex;
    std::map<FACE::IOSS::CONNECTION_HANDLE_TYPE, std::string> m_names;
};

}  // namespace boardkit

#endif
