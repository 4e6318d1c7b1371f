/*
 * A Cyclone DDS peer for the interoperability test of the transport:
 *   CYCLONEDDS_URI=<configuration that picks the interface> cyclone_peer DOMAIN
 * Prints each sample taken on "<type>ToPeer" as one line (the topic, then
 * every field as name=value in the order of the IDL) and sends it back on "<type>FromPeer" with the
 * seq_num of its header plus one. Endpoints keep their history for late
 * joiners, so neither side waits for the other to match before it writes.
 * Runs until SIGTERM or SIGINT, or 120 s at most.
 */
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include "dds/dds.h"

#include CHRONAVEL_PEER_TYPES_HEADER

static volatile sig_atomic_t g_stop = 0;

static void on_signal(int sig) {
  g_stop = sig;
}

static void print_timestamp(const char *name, const aspn2_msgs_idl_timestamp *t) {
  printf(" header.%s.sec=%" PRId64 " header.%s.nsec=%" PRId32 " header.%s.time_code=%" PRId32, name, t->sec, name,
         t->nsec, name, t->time_code);
}

static void print_header(const aspn2_msgs_idl_header *h) {
  printf(" header.seq_num=%" PRId64, h->seq_num);
  print_timestamp("timestamp_arrival", &h->timestamp_arrival);
  print_timestamp("timestamp_valid", &h->timestamp_valid);
  printf(" header.device_id=%" PRId32, h->device_id);
}

static void print_utc(const void *sample) {
  const aspn2_msgs_idl_UTCTime *m = sample;
  print_header(&m->header);
  printf(" gps_tow_sec=%" PRId32 " gps_tow_nsec=%.17g gps_week=%" PRId32 " utc_tod_sec=%" PRId32
         " utc_tod_nsec=%.17g a1=%.17g",
         m->gps_tow_sec, m->gps_tow_nsec, m->gps_week, m->utc_tod_sec, m->utc_tod_nsec, m->a1);
  for (int i = 0; i < 2; i++)
    for (int j = 0; j < 2; j++)
      printf(" covariance[%d][%d]=%.17g", i, j, m->covariance[i][j]);
}

static void print_command(const void *sample) {
  const aspn2_msgs_idl_CommandResponse *m = sample;
  print_header(&m->header);
  printf(" commanded_device_id=%" PRId32 " command_identifier=%" PRId32 " command_response_type=%d command_response=%s",
         m->commanded_device_id, m->command_identifier, (int)m->command_response_type,
         m->command_response ? m->command_response : "");
}

static void print_event(const void *sample) {
  const aspn2_msgs_idl_EventLog *m = sample;
  print_header(&m->header);
  printf(" event_log_type=%d eventlog=%s", (int)m->event_log_type, m->eventlog ? m->eventlog : "");
}

struct route {
  const dds_topic_descriptor_t *type;
  const char *in;
  const char *out;
  void (*print)(const void *sample);
  dds_entity_t reader;
  dds_entity_t writer;
};

/* Prints and answers every sample the reader holds; the header is the first
   member of every type. */
static void forward(struct route *r) {
  void *samples[1] = {NULL};
  dds_sample_info_t info;
  while (dds_take(r->reader, samples, &info, 1, 1) > 0) {
    if (info.valid_data) {
      printf("%s", r->in);
      r->print(samples[0]);
      printf("\n");
      ((aspn2_msgs_idl_header *)samples[0])->seq_num += 1;
      printf("%s %s\n", dds_write(r->writer, samples[0]) == DDS_RETCODE_OK ? "SENT" : "FAILED", r->out);
      fflush(stdout);
    }
    dds_return_loan(r->reader, samples, 1);
    samples[0] = NULL;
  }
}

int main(int argc, char **argv) {
  /* Never let the peer pick a network interface by itself. */
  const char *uri = getenv("CYCLONEDDS_URI");
  if (argc != 2 || uri == NULL || uri[0] == '\0') {
    fprintf(stderr, "usage: CYCLONEDDS_URI=<configuration that picks the interface> %s DOMAIN\n", argv[0]);
    return 2;
  }
  signal(SIGTERM, on_signal);
  signal(SIGINT, on_signal);

  dds_entity_t participant = dds_create_participant((dds_domainid_t)atoi(argv[1]), NULL, NULL);
  struct route routes[3] = {
      {&aspn2_msgs_idl_UTCTime_desc, "UTCTimeToPeer", "UTCTimeFromPeer", print_utc, 0, 0},
      {&aspn2_msgs_idl_CommandResponse_desc, "CommandToPeer", "CommandFromPeer", print_command, 0, 0},
      {&aspn2_msgs_idl_EventLog_desc, "EventLogToPeer", "EventLogFromPeer", print_event, 0, 0}};
  /* The transport's table with back-fill: reliable, keep last, transient local. */
  dds_qos_t *qos = dds_create_qos();
  dds_qset_reliability(qos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, 10);
  dds_qset_durability(qos, DDS_DURABILITY_TRANSIENT_LOCAL);
  for (int i = 0; i < 3; i++) {
    struct route *r = &routes[i];
    r->reader = dds_create_reader(participant, dds_create_topic(participant, r->type, r->in, NULL, NULL), qos, NULL);
    r->writer = dds_create_writer(participant, dds_create_topic(participant, r->type, r->out, NULL, NULL), qos, NULL);
    if (r->reader < 0 || r->writer < 0) {
      fprintf(stderr, "cannot create the endpoints of %s\n", r->in);
      dds_delete(participant);
      return 3;
    }
  }
  dds_delete_qos(qos);

  dds_time_t deadline = dds_time() + DDS_SECS(120);
  while (!g_stop && dds_time() < deadline) {
    for (int i = 0; i < 3; i++)
      forward(&routes[i]);
    dds_sleepfor(DDS_MSECS(1));
  }
  dds_delete(participant);
  return 0;
}
