#ifndef ASPN_COMMANDSTRINGS_H
#define ASPN_COMMANDSTRINGS_H

#include <string>

// The words the platform's servers exchange in CommandResponse messages.
namespace Sys {

namespace CommandString {
extern const std::string SystemModeLive;
extern const std::string SystemModeSim;
extern const std::string QueryVersioning;
extern const std::string BitServerPing;
extern const std::string BitServerReportClear;
extern const std::string BitServerReportAppend;
extern const std::string BitServerReportRemove;
extern const std::string RequestBitReport;
extern const std::string RequestSystemCBit;
extern const std::string RequestComponentCBit;
extern const std::string NavigatorCommand;
extern const std::string NavigatorStatus;
extern const std::string SystemEnvRerad;
extern const std::string SystemEnvLive;
extern const std::string InitSincgars;
extern const std::string InitHotStart;
extern const std::string InitWarmStart;
extern const std::string InitDataTransferOutLNav;
extern const std::string SetHmiBlackoutEnable;
extern const std::string SetHmiBlackoutDisable;
extern const std::string RequestZeroize;
extern const std::string RequestDestroy;
extern const std::string StartSystemZeroize;
extern const std::string StartSystemDestroy;
extern const std::string QueryPassthrough;
extern const std::string ServerStarted;
extern const std::string ServerStopped;
extern const std::string RequestPartNumbers;
// Addressed to particular units; this server neither sends nor handles them.
extern const std::string QueryLinkRadioStatus;
extern const std::string QueryHmiPanelStatus;
extern const std::string SetLinkRadioStatus;
extern const std::string ErmStandby;
extern const std::string ErmContinuous;
extern const std::string ErmCvZeroize;
extern const std::string ErmZeroize;
extern const std::string ErmDestroy;
extern const std::string ErmQueryDestroyStatus;
extern const std::string AltNavAssured;
extern const std::string AltNavUnassured;
extern const std::string AltNavNotAvailable;
extern const std::string QueryCompatDesignation;
}  // namespace CommandString

namespace ResponseString {
extern const std::string Pass;
extern const std::string Fail;
extern const std::string Ack;
extern const std::string Nack;
extern const std::string ComponentZeroize;
extern const std::string ComponentDestroy;
extern const std::string SystemZeroize;
extern const std::string SystemDestroy;
extern const std::string CbitResponse;
extern const std::string PassthroughEnabled;
extern const std::string PassthroughDisabled;
extern const std::string LinkRadioCurrentStatus;
extern const std::string HmiPanelCurrentStatus;
}  // namespace ResponseString

}  // namespace Sys

#endif
