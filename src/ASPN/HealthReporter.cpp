#include "ASPN/HealthReporter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <utility>

#include "ASPN/TimeCodeHelper.h"
#include "FACE/FACE_Common.h"
#include "platform/FPGA.h"

namespace {

// The pause after a publication, resumed when a signal cuts it short.
void pause(std::chrono::nanoseconds span) {
    timespec remaining{static_cast<time_t>(span.count() / 1000000000),
                       static_cast<long>(span.count() % 1000000000)};
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}

}  // namespace

HealthReporter& HealthReporter::Instance() {
    static HealthReporter instance;
    return instance;
}

HealthReporter::HealthReporter() : m_eventQ(eventQCapacity, EventTypes::eStatus, configRepeatDuration) {}

// A thread still running here would end the process abnormally; stop it.
HealthReporter::~HealthReporter() {
    DoneHealthReporter();
}

void HealthReporter::SendEvent(const char* file, int line, eEventType type, const std::string& text) {
    if (file == nullptr) {
        throw std::logic_error("HealthReporter::SendEvent called without a source file name");
    }
    eEventType t = type;
    std::string filtered = FaultHysteresis::Instance().Check(t, file, line, text);
    const int queued = (t >= EventTypes::eUnknown && t <= EventTypes::eCritical) ? t : EventTypes::eUnknown;
    (void)m_eventQ.push_back(queued, std::move(filtered));
}

uint32_t HealthReporter::SendConfigEvent(const std::string& text) {
    return m_eventQ.push_back_config(text);
}

uint32_t HealthReporter::ReplaceConfigEvent(const std::string& text, uint32_t id) {
    return m_eventQ.push_back_config(text, id);
}

void HealthReporter::InitHealthReporter(const std::string& name, const ASPN2::DeviceIdFactory& ids,
                                        std::shared_ptr<EventLogTransport> transport,
                                        int64_t connectionId) {
    if (!transport) {
        throw std::runtime_error("InitHealthReporter(" + name + ") called with an empty eventLogTypedTS.");
    }
    if (m_initialized.exchange(true)) {
        throw std::runtime_error("InitHealthReporter(" + name +
                                 ") called on an already initialized HealthReporter.");
    }
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    transport->Register_Sender(connectionId, code);
    FACE::Return_Code_Value_No_Error_No_Action(
        "ASPN/HealthReporter.cpp", __LINE__, ("InitHealthReporter(" + name + ") unable to register sender.").c_str(), code);

    m_name = name;
    m_deviceId = ids.makeDeviceId(ASPN2::DeviceIdFactory::EventLogClass, 0);
    m_eventLogTypedTS = std::move(transport);
    m_seqNum = 0;
    m_connectionId = connectionId;
    m_stop.store(false);
    m_pubThread = std::thread(&HealthReporter::pubThreadFunction, this);

    if (!FaultHysteresis::Instance().OkInitFaultHysteresis(180, 16, 2000)) {
        std::perror("Unable to configure the Fault Hysteresis\n");
        std::exit(-1);
    }
}

void HealthReporter::DoneHealthReporter() {
    if (m_pubThread.joinable()) {
        m_stop.store(true);
        m_pubThread.join();
    }
    // The reporter lives until static destruction, after Fast DDS's own
    // state is gone: a participant it still held would be destroyed then.
    m_eventLogTypedTS.reset();
    m_initialized.store(false);
}

void HealthReporter::pubThreadFunction() {
    for (;;) {
        try {
            int type = 0;
            std::string text;
            if (m_eventQ.pop_front(type, text, eventQPollDuration)) {
                publishChange(type, std::move(text));
                pause(publicationPause);
            } else if (m_stop.load()) {
                return;
            }
        } catch (const std::exception& e) {
            std::cout << "!!!!!! " << m_name << " HealthReporter caught exception: " << e.what()
                      << std::endl;
        } catch (...) {
            std::cout << "!!!!!! " << m_name << " HealthReporter caught UNKNOWN exception" << std::endl;
        }
    }
}

void HealthReporter::publishChange(int type, std::string&& text) {
    aspn2_msgs::idl::EventLog event;
    event.header().device_id(static_cast<int32_t>(m_deviceId));
    ASPN2::setToVandToA_fromFpgaTicks(FpgaFace::Instance().fpga_get_SystemCount(), event.header());
    event.header().seq_num(m_seqNum++);
    event.event_log_type(static_cast<aspn2_msgs::idl::event_log_type_enum>(type));
    event.eventlog(std::move(text));

    FACE::TSS::TRANSACTION_ID_TYPE transaction = 0;
    FACE::RETURN_CODE_TYPE::Value code = FACE::RETURN_CODE_TYPE::NO_ERROR;
    m_eventLogTypedTS->Send_Message(m_connectionId, -1, transaction, event, code);
    if (code != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        std::cout << "!!!!!! " << m_name << " HealthReporter could not publish event type/info = "
                  << static_cast<uint32_t>(type) << "/" << event.eventlog() << std::endl;
    }
}
