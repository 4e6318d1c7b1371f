#ifndef TESTS_SUPPORT_FPGASESSION_H
#define TESTS_SUPPORT_FPGASESSION_H

#include "platform/FPGA.h"
#include "support/RegisterImage.h"

namespace testsupport {

// FpgaFace started on an image for the life of the object, stopped after. A
// recording session logs the writes in the image's writes.
class FpgaSession {
public:
    explicit FpgaSession(RegisterImage& image, bool recording = false) {
        FpgaFace::Instance().InitFpga(image.makeService(recording));
    }
    ~FpgaSession() { FpgaFace::Instance().DoneFpga(); }
};

}  // namespace testsupport

#endif
