#ifndef TESTS_SUPPORT_FPGASESSION_H
#define TESTS_SUPPORT_FPGASESSION_H

#include <memory>

#include "FACE/QV_Devmem.h"
#include "support/RecordingIoService.h"
#include "support/RegisterImage.h"

namespace testsupport {

// FpgaFace started on an image for the life of the object, stopped after.
// A recording session puts a RecordingIoService between the facade and the
// image's IO service.
class FpgaSession {
public:
    enum Mode { PLAIN, RECORDING };

    explicit FpgaSession(const RegisterImage& image, Mode mode = PLAIN);
    ~FpgaSession();
    FpgaSession(const FpgaSession&) = delete;
    FpgaSession& operator=(const FpgaSession&) = delete;

    const std::shared_ptr<FACE::IOSS::QV_Devmem>& service() const { return m_service; }
    // Null unless recording.
    RecordingIoService* recorder() const { return m_recorder.get(); }

private:
    std::shared_ptr<FACE::IOSS::QV_Devmem> m_service;
    std::shared_ptr<RecordingIoService> m_recorder;
};

}  // namespace testsupport

#endif
