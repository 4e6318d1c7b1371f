#ifndef CHRONAVEL_PPSSOURCE_H
#define CHRONAVEL_PPSSOURCE_H

#include <sys/timepps.h>

#include <ctime>

#include "platform/TimeHost.h"

// The kernel PPS source through the RFC 2783 calls of the host. Diagnostics go
// to standard error.

// Opens path and arms assert capture (with a zero assert offset where the
// device supports one); the handle, or -1 after one diagnostic.
int open_pps_source(platform::TimeHost& host, const char* path);

// The most recent assert edge, without waiting for a new one: its system
// clock time and its sequence number (0 while no edge was ever captured).
// 0 on success, -1 after a diagnostic; assertTime is left alone on failure.
int fetch_timestamp(platform::TimeHost& host, pps_handle_t handle, timespec& assertTime,
                    pps_seq_t& assertSequence);

#endif
