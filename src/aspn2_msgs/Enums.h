#ifndef ASPN2_MSGS_ENUMS_H
#define ASPN2_MSGS_ENUMS_H

// Enumerations of the ASPN 2 messages. Every one is a 32-bit value on the
// wire; enumerators count from 0, and the first is every field's default.
// Enumerator names carry their enum's name because C++ and IDL both put
// them in the enclosing module's scope.

#include "aspn2_msgs/MessageMacros.h"

namespace aspn2_msgs {
namespace idl {

#define ASPN2_ENUMERATORS_command_response_type_enum(E) \
    E(COMMAND_RESPONSE_TYPE_COMMAND)                    \
    E(COMMAND_RESPONSE_TYPE_RESPONSE)
ASPN2_ENUM(command_response_type_enum)

#define ASPN2_ENUMERATORS_event_log_type_enum(E) \
    E(EVENT_LOG_TYPE_UNSPECIFIED)                \
    E(EVENT_LOG_TYPE_DEBUG)                      \
    E(EVENT_LOG_TYPE_STATUS)                     \
    E(EVENT_LOG_TYPE_FAULT)                      \
    E(EVENT_LOG_TYPE_EXCEPTION)                  \
    E(EVENT_LOG_TYPE_CRITICAL)
ASPN2_ENUM(event_log_type_enum)

#define ASPN2_ENUMERATORS_time_system_enum(E) \
    E(TIME_SYSTEM_GPS)                        \
    E(TIME_SYSTEM_GLONASS)                    \
    E(TIME_SYSTEM_GALILEO)                    \
    E(TIME_SYSTEM_BEIDOU)                     \
    E(TIME_SYSTEM_QZSS)                       \
    E(TIME_SYSTEM_UTC)
ASPN2_ENUM(time_system_enum)

#define ASPN2_ENUMERATORS_subframe_satellite_system_enum(E) \
    E(SUBFRAME_SATELLITE_SYSTEM_GPS)                        \
    E(SUBFRAME_SATELLITE_SYSTEM_GLONASS)                    \
    E(SUBFRAME_SATELLITE_SYSTEM_GALILEO)                    \
    E(SUBFRAME_SATELLITE_SYSTEM_BEIDOU)                     \
    E(SUBFRAME_SATELLITE_SYSTEM_QZSS)                       \
    E(SUBFRAME_SATELLITE_SYSTEM_SBAS)
ASPN2_ENUM(subframe_satellite_system_enum)

#define ASPN2_ENUMERATORS_QV_PNT_Solution_Assurance_enum(E) \
    E(QV_PNT_SOLUTION_ASSURANCE_UNKNOWN)                    \
    E(QV_PNT_SOLUTION_ASSURANCE_ASSURED)                    \
    E(QV_PNT_SOLUTION_ASSURANCE_UNASSURED)                  \
    E(QV_PNT_SOLUTION_ASSURANCE_NOT_AVAILABLE)
ASPN2_ENUM(QV_PNT_Solution_Assurance_enum)

#define ASPN2_ENUMERATORS_navigation_mode_enum(E) \
    E(NAVIGATION_MODE_UNKNOWN)                    \
    E(NAVIGATION_MODE_INITIALIZING)               \
    E(NAVIGATION_MODE_ALIGNING)                   \
    E(NAVIGATION_MODE_NAVIGATING)                 \
    E(NAVIGATION_MODE_DEAD_RECKONING)
ASPN2_ENUM(navigation_mode_enum)

#define ASPN2_ENUMERATORS_assurance_state_enum(E) \
    E(ASSURANCE_STATE_UNKNOWN)                    \
    E(ASSURANCE_STATE_ASSURED)                    \
    E(ASSURANCE_STATE_UNASSURED)                  \
    E(ASSURANCE_STATE_NOT_AVAILABLE)
ASPN2_ENUM(assurance_state_enum)

#define ASPN2_ENUMERATORS_DirectionInput_enum(E) \
    E(DIRECTION_INPUT_UNKNOWN)                   \
    E(DIRECTION_INPUT_FORWARD)                   \
    E(DIRECTION_INPUT_REVERSE)
ASPN2_ENUM(DirectionInput_enum)

#define ASPN2_ENUMERATORS_EstimatedDirection_enum(E) \
    E(ESTIMATED_DIRECTION_UNKNOWN)                   \
    E(ESTIMATED_DIRECTION_FORWARD)                   \
    E(ESTIMATED_DIRECTION_REVERSE)                   \
    E(ESTIMATED_DIRECTION_STATIONARY)
ASPN2_ENUM(EstimatedDirection_enum)

#define ASPN2_ENUMERATORS_interference_band_enum(E) \
    E(INTERFERENCE_BAND_UNKNOWN)                    \
    E(INTERFERENCE_BAND_L1)                         \
    E(INTERFERENCE_BAND_L2)                         \
    E(INTERFERENCE_BAND_L5)
ASPN2_ENUM(interference_band_enum)

#define ASPN2_ENUMERATORS_interference_signal_enum(E) \
    E(INTERFERENCE_SIGNAL_UNKNOWN)                    \
    E(INTERFERENCE_SIGNAL_CW)                         \
    E(INTERFERENCE_SIGNAL_NARROWBAND)                 \
    E(INTERFERENCE_SIGNAL_WIDEBAND)                   \
    E(INTERFERENCE_SIGNAL_PULSED)
ASPN2_ENUM(interference_signal_enum)

#define ASPN2_ENUMERATORS_interference_type_enum(E) \
    E(INTERFERENCE_TYPE_NONE)                       \
    E(INTERFERENCE_TYPE_JAMMING)                    \
    E(INTERFERENCE_TYPE_SPOOFING)                   \
    E(INTERFERENCE_TYPE_MEACONING)
ASPN2_ENUM(interference_type_enum)

#define ASPN2_ENUMERATORS_rinex3_satellite_system_enum(E) \
    E(RINEX3_SATELLITE_SYSTEM_GPS)                        \
    E(RINEX3_SATELLITE_SYSTEM_GLONASS)                    \
    E(RINEX3_SATELLITE_SYSTEM_GALILEO)                    \
    E(RINEX3_SATELLITE_SYSTEM_BEIDOU)                     \
    E(RINEX3_SATELLITE_SYSTEM_QZSS)                       \
    E(RINEX3_SATELLITE_SYSTEM_IRNSS)                      \
    E(RINEX3_SATELLITE_SYSTEM_SBAS)                       \
    E(RINEX3_SATELLITE_SYSTEM_MIXED)
ASPN2_ENUM(rinex3_satellite_system_enum)

#define ASPN2_ENUMERATORS_rinex3_band_enum(E) \
    E(RINEX3_BAND_1)                          \
    E(RINEX3_BAND_2)                          \
    E(RINEX3_BAND_3)                          \
    E(RINEX3_BAND_5)                          \
    E(RINEX3_BAND_6)                          \
    E(RINEX3_BAND_7)                          \
    E(RINEX3_BAND_8)
ASPN2_ENUM(rinex3_band_enum)

#define ASPN2_ENUMERATORS_rinex3_attribute_enum(E) \
    E(RINEX3_ATTRIBUTE_C)                          \
    E(RINEX3_ATTRIBUTE_P)                          \
    E(RINEX3_ATTRIBUTE_W)                          \
    E(RINEX3_ATTRIBUTE_Y)                          \
    E(RINEX3_ATTRIBUTE_M)                          \
    E(RINEX3_ATTRIBUTE_I)                          \
    E(RINEX3_ATTRIBUTE_Q)                          \
    E(RINEX3_ATTRIBUTE_X)
ASPN2_ENUM(rinex3_attribute_enum)

#define ASPN2_ENUMERATORS_gnss_tracking_status_enum(E) \
    E(GNSS_TRACKING_STATUS_IDLE)                       \
    E(GNSS_TRACKING_STATUS_SEARCHING)                  \
    E(GNSS_TRACKING_STATUS_ACQUIRED)                   \
    E(GNSS_TRACKING_STATUS_TRACKING)                   \
    E(GNSS_TRACKING_STATUS_LOST)
ASPN2_ENUM(gnss_tracking_status_enum)

#define ASPN2_ENUMERATORS_gnss_corrections_used_enum(E) \
    E(GNSS_CORRECTIONS_USED_NONE)                       \
    E(GNSS_CORRECTIONS_USED_SBAS)                       \
    E(GNSS_CORRECTIONS_USED_DGNSS)                      \
    E(GNSS_CORRECTIONS_USED_RTK)                        \
    E(GNSS_CORRECTIONS_USED_PPP)
ASPN2_ENUM(gnss_corrections_used_enum)

#define ASPN2_ENUMERATORS_assurance_level_enum(E) \
    E(ASSURANCE_LEVEL_UNKNOWN)                    \
    E(ASSURANCE_LEVEL_LOW)                        \
    E(ASSURANCE_LEVEL_MEDIUM)                     \
    E(ASSURANCE_LEVEL_HIGH)
ASPN2_ENUM(assurance_level_enum)

#define ASPN2_ENUMERATORS_satellite_system_enum(E) \
    E(SATELLITE_SYSTEM_GPS)                        \
    E(SATELLITE_SYSTEM_GLONASS)                    \
    E(SATELLITE_SYSTEM_GALILEO)                    \
    E(SATELLITE_SYSTEM_BEIDOU)                     \
    E(SATELLITE_SYSTEM_QZSS)                       \
    E(SATELLITE_SYSTEM_IRNSS)                      \
    E(SATELLITE_SYSTEM_SBAS)
ASPN2_ENUM(satellite_system_enum)

#define ASPN2_ENUMERATORS_type_enum(E) \
    E(TYPE_PSEUDORANGE)                \
    E(TYPE_CARRIER_PHASE)              \
    E(TYPE_DOPPLER)                    \
    E(TYPE_SIGNAL_STRENGTH)
ASPN2_ENUM(type_enum)

#define ASPN2_ENUMERATORS_band_enum(E) \
    E(BAND_1)                          \
    E(BAND_2)                          \
    E(BAND_5)                          \
    E(BAND_6)                          \
    E(BAND_7)                          \
    E(BAND_8)
ASPN2_ENUM(band_enum)

#define ASPN2_ENUMERATORS_attrib_enum(E) \
    E(ATTRIB_C)                          \
    E(ATTRIB_P)                          \
    E(ATTRIB_W)                          \
    E(ATTRIB_Y)                          \
    E(ATTRIB_M)                          \
    E(ATTRIB_I)                          \
    E(ATTRIB_Q)                          \
    E(ATTRIB_X)
ASPN2_ENUM(attrib_enum)

#define ASPN2_ENUMERATORS_key_type_enum(E) \
    E(KEY_TYPE_NONE)                       \
    E(KEY_TYPE_GUV)                        \
    E(KEY_TYPE_CVW)                        \
    E(KEY_TYPE_WAK)
ASPN2_ENUM(key_type_enum)

#define ASPN2_ENUMERATORS_key_status_enum(E) \
    E(KEY_STATUS_UNKNOWN)                    \
    E(KEY_STATUS_VALID)                      \
    E(KEY_STATUS_EXPIRED)                    \
    E(KEY_STATUS_INVALID)
ASPN2_ENUM(key_status_enum)

#define ASPN2_ENUMERATORS_key_load_status_enum(E) \
    E(KEY_LOAD_STATUS_NOT_LOADED)                 \
    E(KEY_LOAD_STATUS_LOADING)                    \
    E(KEY_LOAD_STATUS_LOADED)                     \
    E(KEY_LOAD_STATUS_FAILED)
ASPN2_ENUM(key_load_status_enum)

#define ASPN2_ENUMERATORS_key_zeroization_status_enum(E) \
    E(KEY_ZEROIZATION_STATUS_NOT_ZEROIZED)               \
    E(KEY_ZEROIZATION_STATUS_IN_PROGRESS)                \
    E(KEY_ZEROIZATION_STATUS_ZEROIZED)                   \
    E(KEY_ZEROIZATION_STATUS_FAILED)
ASPN2_ENUM(key_zeroization_status_enum)

#define ASPN2_ENUMERATORS_channel_state_enum(E) \
    E(CHANNEL_STATE_IDLE)                       \
    E(CHANNEL_STATE_SEARCH)                     \
    E(CHANNEL_STATE_CODE_LOCK)                  \
    E(CHANNEL_STATE_CARRIER_LOCK)               \
    E(CHANNEL_STATE_DATA_LOCK)
ASPN2_ENUM(channel_state_enum)

#define ASPN2_ENUMERATORS_channel_frequency_enum(E) \
    E(CHANNEL_FREQUENCY_L1)                         \
    E(CHANNEL_FREQUENCY_L2)                         \
    E(CHANNEL_FREQUENCY_L5)
ASPN2_ENUM(channel_frequency_enum)

#define ASPN2_ENUMERATORS_channel_code_enum(E) \
    E(CHANNEL_CODE_CA)                         \
    E(CHANNEL_CODE_P)                          \
    E(CHANNEL_CODE_Y)                          \
    E(CHANNEL_CODE_M)                          \
    E(CHANNEL_CODE_L2C)                        \
    E(CHANNEL_CODE_L5)
ASPN2_ENUM(channel_code_enum)

#define ASPN2_ENUMERATORS_assurance_enum(E) \
    E(ASSURANCE_UNKNOWN)                    \
    E(ASSURANCE_ASSURED)                    \
    E(ASSURANCE_UNASSURED)
ASPN2_ENUM(assurance_enum)

#define ASPN2_ENUMERATORS_iono_correction_source_enum(E) \
    E(IONO_CORRECTION_SOURCE_NONE)                       \
    E(IONO_CORRECTION_SOURCE_BROADCAST)                  \
    E(IONO_CORRECTION_SOURCE_DUAL_FREQUENCY)             \
    E(IONO_CORRECTION_SOURCE_SBAS)
ASPN2_ENUM(iono_correction_source_enum)

#define ASPN2_ENUMERATORS_rinex3_gnss_enum_enum(E) \
    E(RINEX3_GNSS_ENUM_GPS)                        \
    E(RINEX3_GNSS_ENUM_GLONASS)                    \
    E(RINEX3_GNSS_ENUM_GALILEO)                    \
    E(RINEX3_GNSS_ENUM_BEIDOU)                     \
    E(RINEX3_GNSS_ENUM_QZSS)                       \
    E(RINEX3_GNSS_ENUM_IRNSS)                      \
    E(RINEX3_GNSS_ENUM_SBAS)
ASPN2_ENUM(rinex3_gnss_enum_enum)

}  // namespace idl
}  // namespace aspn2_msgs

#endif
