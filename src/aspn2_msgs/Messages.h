#ifndef ASPN2_MSGS_MESSAGES_H
#define ASPN2_MSGS_MESSAGES_H

// The ASPN 2 message types. Each field list below is the whole description
// of a type: members, accessors, CDR encoding and sizes all follow from it
// (see MessageMacros.h and CdrFields.h). Fields are listed in wire order and
// must stay identical to idl/aspn2_msgs.idl, which other teams generate
// their code from.
//
// A member named like its type (`header`) needs the qualified type name.

#include "aspn2_msgs/Enums.h"
#include "aspn2_msgs/MessageMacros.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace aspn2_msgs {
namespace idl {

// ---- common header ----

#define ASPN2_FIELDS_timestamp(F) \
    F(sec, int64_t)               \
    F(nsec, int32_t)              \
    F(time_code, int32_t)
ASPN2_STRUCT(timestamp)

#define ASPN2_FIELDS_header(F)                                \
    F(seq_num, int64_t)                                       \
    F(timestamp_arrival, ::aspn2_msgs::idl::timestamp)        \
    F(timestamp_valid, ::aspn2_msgs::idl::timestamp)          \
    F(device_id, int32_t)
ASPN2_STRUCT(header)

// ---- nested types ----

#define ASPN2_FIELDS_bit_comp_set(F) \
    F(server_id, int32_t)            \
    F(has_communicated, bool)        \
    F(warn_received, bool)           \
    F(error_received, bool)          \
    F(critical_received, bool)
ASPN2_STRUCT(bit_comp_set)

#define ASPN2_FIELDS_interference_type_set(F)          \
    F(interference_band, interference_band_enum)       \
    F(interference_signal, interference_signal_enum)   \
    F(interference_type, interference_type_enum)       \
    F(interference_value, int32_t)
ASPN2_STRUCT(interference_type_set)

#define ASPN2_FIELDS_channel_status_obs(F)                   \
    F(prn, int32_t)                                          \
    F(channel, int32_t)                                      \
    F(rinex3_satellite_system, rinex3_satellite_system_enum) \
    F(rinex3_band, rinex3_band_enum)                         \
    F(rinex3_attribute, rinex3_attribute_enum)               \
    F(gnss_tracking_status, gnss_tracking_status_enum)       \
    F(carrier_to_noise, float)                               \
    F(jammer_to_signal, float)                               \
    F(used_in_solution, bool)                                \
    F(gnss_corrections_used, gnss_corrections_used_enum)     \
    F(assurance_level, assurance_level_enum)
ASPN2_STRUCT(channel_status_obs)

#define ASPN2_FIELDS_gnss_obs(F)                   \
    F(prn, int32_t)                                \
    F(satellite_system, satellite_system_enum)     \
    F(type, type_enum)                             \
    F(band, band_enum)                             \
    F(attrib, attrib_enum)                         \
    F(observation, double)                         \
    F(LLI, int32_t)                                \
    F(signal_strength, int32_t)                    \
    F(lock_count, int32_t)
ASPN2_STRUCT(gnss_obs)

#define ASPN2_FIELDS_key_type_set(F)                           \
    F(key_type, key_type_enum)                                 \
    F(remaining_key_time, int32_t)                             \
    F(key_status, key_status_enum)                             \
    F(key_load_status, key_load_status_enum)                   \
    F(key_zeroization_status, key_zeroization_status_enum)
ASPN2_STRUCT(key_type_set)

#define ASPN2_FIELDS_gpslos_obs(F)                               \
    F(prn, int32_t)                                              \
    F(channel_state, channel_state_enum)                         \
    F(channel_frequency, channel_frequency_enum)                 \
    F(channel_code, channel_code_enum)                           \
    F(ere, double)                                               \
    F(c_n0, int32_t)                                             \
    F(assurance, assurance_enum)                                 \
    F(pseudorange_measurement_valid, bool)                       \
    F(pseudorange_measurement, double)                           \
    F(pseudorange_measurement_variance, double)                  \
    F(deltarange_measurement_valid, bool)                        \
    F(deltarange_measurement, double)                            \
    F(deltarange_measurement_variance, double)                   \
    F(deltarange_interval, double)                               \
    F(sv_position_start, std::array<double, 3>)                  \
    F(sv_position_stop, std::array<double, 3>)                   \
    F(tropo_correction_applied, bool)                            \
    F(iono_correction_applied, bool)                             \
    F(iono_correction_source, iono_correction_source_enum)
ASPN2_STRUCT(gpslos_obs)

#define ASPN2_FIELDS_lru_comp_set(F) \
    F(lru_id, int32_t)               \
    F(component_id, int32_t)
ASPN2_STRUCT(lru_comp_set)

#define ASPN2_FIELDS_meas_type_set(F) \
    F(meas_set_id, int32_t)           \
    F(meas_avail, int32_t)            \
    F(meas_used, int32_t)
ASPN2_STRUCT(meas_type_set)

#define ASPN2_FIELDS_sv_set(F)                      \
    F(svid, int32_t)                                \
    F(rinex3_gnss_enum, rinex3_gnss_enum_enum)      \
    F(healthy, bool)                                \
    F(azimuth, int32_t)                             \
    F(elevation, int32_t)                           \
    F(rising, bool)
ASPN2_STRUCT(sv_set)

#define ASPN2_FIELDS_geodeticposition3d_type(F) \
    F(latitude, double)                         \
    F(longitude, double)                        \
    F(altitude, double)
ASPN2_STRUCT(geodeticposition3d_type)

// ---- messages ----

#define ASPN2_FIELDS_UTCTime(F)                               \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(gps_tow_sec, int32_t)                                   \
    F(gps_tow_nsec, double)                                   \
    F(gps_week, int32_t)                                      \
    F(utc_tod_sec, int32_t)                                   \
    F(utc_tod_nsec, double)                                   \
    F(a1, double)                                             \
    F(covariance, std::array<std::array<double, 2>, 2>)
ASPN2_STRUCT(UTCTime)

#define ASPN2_FIELDS_CommandResponse(F)                       \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(commanded_device_id, int32_t)                           \
    F(command_identifier, int32_t)                            \
    F(command_response_type, command_response_type_enum)      \
    F(command_response, std::string)
ASPN2_STRUCT(CommandResponse)

#define ASPN2_FIELDS_EventLog(F)                              \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(event_log_type, event_log_type_enum)                    \
    F(eventlog, std::string)
ASPN2_STRUCT(EventLog)

#define ASPN2_FIELDS_Altitude(F)              \
    F(header, ::aspn2_msgs::idl::header)      \
    F(altitude, double)                       \
    F(variance, double)
ASPN2_STRUCT(Altitude)

#define ASPN2_FIELDS_BitReport(F)                         \
    F(header, ::aspn2_msgs::idl::header)                  \
    F(bit_rollup, bool)                                   \
    F(num_servers_expected, int32_t)                      \
    F(num_servers_available, int32_t)                     \
    F(bit_components, std::vector<bit_comp_set>)
ASPN2_STRUCT(BitReport)

#define ASPN2_FIELDS_BitEntryStatus(F)        \
    F(header, ::aspn2_msgs::idl::header)      \
    F(requestedEntryAvailable, bool)          \
    F(testCodeOfRequestedEntry, uint8_t)      \
    F(subTestCodeOfRequestedEntry, uint8_t)
ASPN2_STRUCT(BitEntryStatus)

#define ASPN2_FIELDS_ChallengedEnvironment(F)                     \
    F(header, ::aspn2_msgs::idl::header)                          \
    F(num_interference_types, int32_t)                            \
    F(interference_types, std::vector<interference_type_set>)
ASPN2_STRUCT(ChallengedEnvironment)

#define ASPN2_FIELDS_ChannelStatus(F)                     \
    F(header, ::aspn2_msgs::idl::header)                  \
    F(num_channels, int32_t)                              \
    F(channels, std::vector<channel_status_obs>)
ASPN2_STRUCT(ChannelStatus)

#define ASPN2_FIELDS_DeltaTimeAndFrequency(F) \
    F(header, ::aspn2_msgs::idl::header)      \
    F(dt, double)                             \
    F(variance, double)                       \
    F(freqB, double)
ASPN2_STRUCT(DeltaTimeAndFrequency)

#define ASPN2_FIELDS_GNSS(F)                  \
    F(header, ::aspn2_msgs::idl::header)      \
    F(week_number, int32_t)                   \
    F(seconds_of_week, double)                \
    F(time_system, time_system_enum)          \
    F(epoch_flag, int32_t)                    \
    F(num_satellites, int32_t)                \
    F(num_measurements, int32_t)              \
    F(obs, std::vector<gnss_obs>)
ASPN2_STRUCT(GNSS)

#define ASPN2_FIELDS_GNSSSubframe(F)                                  \
    F(header, ::aspn2_msgs::idl::header)                              \
    F(gnss_msg_id, int64_t)                                           \
    F(prn, int32_t)                                                   \
    F(subframe_satellite_system, subframe_satellite_system_enum)      \
    F(freq_slot_id, int32_t)                                          \
    F(num_bytes, int32_t)                                             \
    F(data_vector, std::vector<uint8_t>)
ASPN2_STRUCT(GNSSSubframe)

#define ASPN2_FIELDS_GPSTime(F)                               \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(rcvr_set_time_sec, int32_t)                             \
    F(rcvr_set_time_nsec, double)                             \
    F(rcvr_time_bias, double)                                 \
    F(rcvr_time_bias_error, double)                           \
    F(rcvr_time_bias_error_rate, double)                      \
    F(gps_tow_sec, int32_t)                                   \
    F(gps_tow_nsec, double)                                   \
    F(gps_week, int32_t)                                      \
    F(covariance, std::array<std::array<double, 2>, 2>)
ASPN2_STRUCT(GPSTime)

#define ASPN2_FIELDS_IMU(F)                   \
    F(header, ::aspn2_msgs::idl::header)      \
    F(delta_v, std::array<double, 3>)         \
    F(delta_theta, std::array<double, 3>)
ASPN2_STRUCT(IMU)

#define ASPN2_FIELDS_MaintenanceEvent(F)                  \
    F(header, ::aspn2_msgs::idl::header)                  \
    F(fault_sources, std::array<lru_comp_set, 4>)         \
    F(criticality_id, int32_t)                            \
    F(category_id, int32_t)                               \
    F(location_id, int32_t)                               \
    F(outcome_id, int32_t)                                \
    F(repeat_in_seconds, int32_t)                         \
    F(identity, std::array<char, 16>)                     \
    F(description, std::array<char, 56>)
ASPN2_STRUCT(MaintenanceEvent)

#define ASPN2_FIELDS_MeasurementIncorporationStatus(F)        \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(num_measurement_types, int32_t)                         \
    F(meas_types, std::vector<meas_type_set>)
ASPN2_STRUCT(MeasurementIncorporationStatus)

#define ASPN2_FIELDS_QuorvanePNT(F)                                       \
    F(header, ::aspn2_msgs::idl::header)                                  \
    F(GPS_Time, double)                                                   \
    F(UTC_Time, double)                                                   \
    F(ECEF_Pos_X, double)                                                 \
    F(ECEF_Pos_Y, double)                                                 \
    F(ECEF_Pos_Z, double)                                                 \
    F(ECEF_Vel_X, double)                                                 \
    F(ECEF_Vel_Y, double)                                                 \
    F(ECEF_Vel_Z, double)                                                 \
    F(Roll, double)                                                       \
    F(Pitch, double)                                                      \
    F(Heading, double)                                                    \
    F(Horz_PosError, double)                                              \
    F(Vert_PosError, double)                                              \
    F(Horz_Vel_Error, double)                                             \
    F(Vert_VelError, double)                                              \
    F(Time_Error, double)                                                 \
    F(Roll_Error, double)                                                 \
    F(Pitch_Error, double)                                                \
    F(Heading_Error, double)                                              \
    F(GPS_Week, int64_t)                                                  \
    F(QV_PNT_Solution_Assurance, QV_PNT_Solution_Assurance_enum)
ASPN2_STRUCT(QuorvanePNT)

#define ASPN2_FIELDS_NavigationMode(F)        \
    F(header, ::aspn2_msgs::idl::header)      \
    F(navigation_mode, navigation_mode_enum)
ASPN2_STRUCT(NavigationMode)

#define ASPN2_FIELDS_PositionVelocity(F)                      \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(position, geodeticposition3d_type)                      \
    F(velocity, std::array<double, 3>)                        \
    F(covariance, std::array<std::array<double, 6>, 6>)
ASPN2_STRUCT(PositionVelocity)

#define ASPN2_FIELDS_PositionVelocityAttitude(F)              \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(position, geodeticposition3d_type)                      \
    F(velocity, std::array<double, 3>)                        \
    F(attitude, std::array<double, 3>)                        \
    F(covariance, std::array<std::array<double, 9>, 9>)
ASPN2_STRUCT(PositionVelocityAttitude)

#define ASPN2_FIELDS_ThreeAxisMagnetometer(F)                 \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(field, std::array<double, 3>)                           \
    F(covariance, std::array<std::array<double, 3>, 3>)
ASPN2_STRUCT(ThreeAxisMagnetometer)

#define ASPN2_FIELDS_TimeAtTheTone(F) \
    F(header, ::aspn2_msgs::idl::header)
ASPN2_STRUCT(TimeAtTheTone)

#define ASPN2_FIELDS_UtcDownlink(F)           \
    F(header, ::aspn2_msgs::idl::header)      \
    F(a0, double)                             \
    F(a1, double)                             \
    F(tot, int32_t)                           \
    F(WNt, int32_t)                           \
    F(delta_t_ls, int32_t)                    \
    F(wn_lsf, int32_t)                        \
    F(dn, int32_t)                            \
    F(delta_t_lsf, int32_t)
ASPN2_STRUCT(UtcDownlink)

#define ASPN2_FIELDS_GSSIP(F)                 \
    F(header, ::aspn2_msgs::idl::header)      \
    F(num_bytes, int32_t)                     \
    F(data, std::vector<uint8_t>)
ASPN2_STRUCT(GSSIP)

#define ASPN2_FIELDS_Velocity3D(F)                            \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(x, double)                                              \
    F(y, double)                                              \
    F(z, double)                                              \
    F(covariance, std::array<std::array<double, 3>, 3>)
ASPN2_STRUCT(Velocity3D)

#define ASPN2_FIELDS_ReceiverStatus(F)        \
    F(header, ::aspn2_msgs::idl::header)      \
    F(rcvr_fail, bool)                        \
    F(num_satellites_avail, int32_t)          \
    F(num_satellites_used, int32_t)           \
    F(pdop, double)                           \
    F(tdop, double)
ASPN2_STRUCT(ReceiverStatus)

#define ASPN2_FIELDS_GPSLineOfSight(F)        \
    F(header, ::aspn2_msgs::idl::header)      \
    F(num_measurements, int32_t)              \
    F(obs, std::vector<gpslos_obs>)
ASPN2_STRUCT(GPSLineOfSight)

#define ASPN2_FIELDS_GPSCryptoStatus(F)       \
    F(header, ::aspn2_msgs::idl::header)      \
    F(num_key_types, int32_t)                 \
    F(key_types, std::vector<key_type_set>)
ASPN2_STRUCT(GPSCryptoStatus)

#define ASPN2_FIELDS_AssuranceState(F)        \
    F(header, ::aspn2_msgs::idl::header)      \
    F(assurance_state, assurance_state_enum)
ASPN2_STRUCT(AssuranceState)

#define ASPN2_FIELDS_PlatformDynamics(F)                      \
    F(header, ::aspn2_msgs::idl::header)                      \
    F(velocity, std::array<double, 3>)                        \
    F(acceleration, std::array<double, 3>)                    \
    F(attitude, std::array<double, 3>)                        \
    F(attitude_rate, std::array<double, 3>)                   \
    F(covariance, std::array<std::array<double, 12>, 12>)
ASPN2_STRUCT(PlatformDynamics)

#define ASPN2_FIELDS_TimeSync(F)              \
    F(header, ::aspn2_msgs::idl::header)      \
    F(SyncCount, int64_t)                     \
    F(Time_NS, int64_t)
ASPN2_STRUCT(TimeSync)

#define ASPN2_FIELDS_SVStatus(F)              \
    F(header, ::aspn2_msgs::idl::header)      \
    F(num_svs, int32_t)                       \
    F(svs, std::vector<sv_set>)
ASPN2_STRUCT(SVStatus)

#define ASPN2_FIELDS_ForwardReverseStatus(F)              \
    F(header, ::aspn2_msgs::idl::header)                  \
    F(DirectionInput, DirectionInput_enum)                \
    F(EstimatedDirection, EstimatedDirection_enum)
ASPN2_STRUCT(ForwardReverseStatus)

}  // namespace idl
}  // namespace aspn2_msgs

// Every struct above, once; used to define their functions and topic types.
#define ASPN2_ALL_STRUCTS(X)                 \
    X(timestamp)                             \
    X(header)                                \
    X(bit_comp_set)                          \
    X(interference_type_set)                 \
    X(channel_status_obs)                    \
    X(gnss_obs)                              \
    X(key_type_set)                          \
    X(gpslos_obs)                            \
    X(lru_comp_set)                          \
    X(meas_type_set)                         \
    X(sv_set)                                \
    X(geodeticposition3d_type)               \
    X(UTCTime)                               \
    X(CommandResponse)                       \
    X(EventLog)                              \
    X(Altitude)                              \
    X(BitReport)                             \
    X(BitEntryStatus)                        \
    X(ChallengedEnvironment)                 \
    X(ChannelStatus)                         \
    X(DeltaTimeAndFrequency)                 \
    X(GNSS)                                  \
    X(GNSSSubframe)                          \
    X(GPSTime)                               \
    X(IMU)                                   \
    X(MaintenanceEvent)                      \
    X(MeasurementIncorporationStatus)        \
    X(QuorvanePNT)                           \
    X(NavigationMode)                        \
    X(PositionVelocity)                      \
    X(PositionVelocityAttitude)              \
    X(ThreeAxisMagnetometer)                 \
    X(TimeAtTheTone)                         \
    X(UtcDownlink)                           \
    X(GSSIP)                                 \
    X(Velocity3D)                            \
    X(ReceiverStatus)                        \
    X(GPSLineOfSight)                        \
    X(GPSCryptoStatus)                       \
    X(AssuranceState)                        \
    X(PlatformDynamics)                      \
    X(TimeSync)                              \
    X(SVStatus)                              \
    X(ForwardReverseStatus)

#endif
