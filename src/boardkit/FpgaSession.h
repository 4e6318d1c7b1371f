#ifndef BOARDKIT_FPGASESSION_H
#define BOARDKIT_FPGASESSION_H

#include "platform/FPGA.h"
#include "boardkit/RegisterImage.h"

namespace boardkit {

// FpgaFace started on an image for the life of the object, stopped after. A
// recording session logs the writes in the image's writes.
class FpgaSession {
public:
    explicit FpgaSession(RegisterImage& image, bool recording = false) {
        FpgaFace::Instance().InitFpga(image.makeService(recording));
    }
    ~FpgaSession() { FpgaFace::Instance().DoneFpga(); }
};

}  // namespace boardkit

#endif
