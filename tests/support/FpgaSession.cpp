#include "support/FpgaSession.h"

#include "platform/FPGA.h"

namespace testsupport {

FpgaSession::FpgaSession(const RegisterImage& image, Mode mode) : m_service(image.makeService()) {
    std::shared_ptr<FACE::IOSS::Devmem::IO_Service> facing = m_service;
    if (mode == RECORDING) {
        m_recorder = std::make_shared<RecordingIoService>(m_service);
        facing = m_recorder;
    }
    try {
        FpgaFace::Instance().InitFpga(facing);
    } catch (...) {
        FpgaFace::Instance().DoneFpga();
        throw;
    }
}

FpgaSession::~FpgaSession() { FpgaFace::Instance().DoneFpga(); }

}  // namespace testsupport
