/* The Cyclone DDS peer of the interoperability test: CYCLONEDDS_URI=<configuration> cyclone_peer DOMAIN.
   Prints each sample taken on "<type>ToPeer" as the topic and every leaf value in the order of the IDL,
   and sends it back on "<type>FromPeer" with its header's seq_num plus one. Runs until SIGTERM (or 120 s);
   the exit status counts the failed writes. */
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include "dds/dds.h"

#include CHRONAVEL_PEER_TYPES_HEADER

static volatile sig_atomic_t g_stop = 0;

static void on_signal(int sig) { g_stop = sig; }

static void print_header(const aspn2_msgs_idl_header *h) {
  const aspn2_msgs_idl_timestamp *t[2] = {&h->timestamp_arrival, &h->timestamp_valid};
  printf(" %" PRId64, h->seq_num);
  for (int i = 0; i < 2; i++) printf(" %" PRId64 " %" PRId32 " %" PRId32, t[i]->sec, t[i]->nsec, t[i]->time_code);
  printf(" %" PRId32, h->device_id);
}

static void print_utc(const void *sample) {
  const aspn2_msgs_idl_UTCTime *m = sample;
  printf(" %" PRId32 " %.17g %" PRId32 " %" PRId32 " %.17g %.17g %.17g %.17g %.17g %.17g", m->gps_tow_sec,
         m->gps_tow_nsec, m->gps_week, m->utc_tod_sec, m->utc_tod_nsec, m->a1, m->covariance[0][0],
         m->covariance[0][1], m->covariance[1][0], m->covariance[1][1]);
}

static void print_command(const void *sample) {
  const aspn2_msgs_idl_CommandResponse *m = sample;
  printf(" %" PRId32 " %" PRId32 " %d %s", m->commanded_device_id, m->command_identifier,
         (int)m->command_response_type, m->command_response);
}

static void print_event(const void *sample) {
  const aspn2_msgs_idl_EventLog *m = sample;
  printf(" %d %s", (int)m->event_log_type, m->eventlog);
}

int main(int argc, char **argv) {
  if (argc != 2 || getenv("CYCLONEDDS_URI") == NULL) return 2; /* never let the peer pick an interface by itself */
  signal(SIGTERM, on_signal);
  const struct {
    const dds_topic_descriptor_t *type;
    const char *in, *out;
    void (*print)(const void *sample);
  } routes[3] = {{&aspn2_msgs_idl_UTCTime_desc, "UTCTimeToPeer", "UTCTimeFromPeer", print_utc},
                 {&aspn2_msgs_idl_CommandResponse_desc, "CommandResponseToPeer", "CommandResponseFromPeer",
                  print_command},
                 {&aspn2_msgs_idl_EventLog_desc, "EventLogToPeer", "EventLogFromPeer", print_event}};
  dds_entity_t participant = dds_create_participant((dds_domainid_t)atoi(argv[1]), NULL, NULL);
  dds_entity_t readers[3], writers[3];
  dds_qos_t *qos = dds_create_qos(); /* the transport's, with back-fill: neither side waits for a match to write */
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  for (int i = 0; i < 3; i++) {
    dds_entity_t in = dds_create_topic(participant, routes[i].type, routes[i].in, NULL, NULL);
    dds_entity_t out = dds_create_topic(participant, routes[i].type, routes[i].out, NULL, NULL);
    readers[i] = dds_create_reader(participant, in, qos, NULL);
    writers[i] = dds_create_writer(participant, out, qos, NULL);
    if (readers[i] < 0 || writers[i] < 0) return 3;
  }
  dds_delete_qos(qos);
  int failed = 0;
  for (dds_time_t end = dds_time() + DDS_SECS(120); !g_stop && dds_time() < end; dds_sleepfor(DDS_MSECS(1))) {
    for (int i = 0; i < 3; i++) {
      void *sample = NULL;
      dds_sample_info_t info;
      if (dds_take(readers[i], &sample, &info, 1, 1) <= 0) continue;
      if (info.valid_data) { /* the header is the first member of every type */
        printf("%s", routes[i].in);
        print_header(sample);
        routes[i].print(sample);
        printf("\n");
        fflush(stdout);
        ((aspn2_msgs_idl_header *)sample)->seq_num += 1;
        failed += dds_write(writers[i], sample) != DDS_RETCODE_OK;
      }
      dds_return_loan(readers[i], &sample, 1);
    }
  }
  dds_delete(participant);
  return failed;
}
