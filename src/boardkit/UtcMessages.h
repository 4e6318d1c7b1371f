#ifndef BOARDKIT_UTCMESSAGES_H
#define BOARDKIT_UTCMESSAGES_H

#include <cstdint>

#include "aspn2_msgs/Messages.h"

namespace boardkit {

// One second of a GPS receiver: the message for UTC time utcSec + nsec, with
// the given leap seconds, variance, and a time of validity in FPGA time.
inline aspn2_msgs::idl::UTCTime gpsMessage(int64_t utcSec, double nsec, double variance = 1e-16,
                                           int64_t tovSec = 1000, int32_t tovNsec = 0,
                                           int leap = 18) {
    const int64_t gps = utcSec - 315964800 + leap;
    aspn2_msgs::idl::UTCTime m;
    m.gps_week(static_cast<int32_t>(gps / 604800));
    m.gps_tow_sec(static_cast<int32_t>(gps % 604800));
    m.gps_tow_nsec(nsec);
    m.utc_tod_sec(static_cast<int32_t>(utcSec % 86400));
    m.utc_tod_nsec(nsec);
    m.covariance()[0][0] = variance;
    m.header().timestamp_valid().sec(tovSec);
    m.header().timestamp_valid().nsec(tovNsec);
    return m;
}

}  // namespace boardkit

#endif
