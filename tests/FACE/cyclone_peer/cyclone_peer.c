/*
 * A Cyclone DDS peer for the interoperability tests of the transport.
 *
 *   cyclone_peer DOMAIN
 *
 * Reads UTCTime, CommandResponse and EventLog samples on the topics
 * "UTCTimeToPeer", "CommandToPeer" and "EventLogToPeer", prints every field
 * of each as one line on standard output, and answers each with a sample
 * derived from it on "UTCTimeFromPeer", "CommandFromPeer" and
 * "EventLogFromPeer": every integer plus one, every double times two, every
 * enum moved to a neighbouring enumerator and every string prefixed with
 * "cyclone:". So a field that either side puts in the wrong place shows.
 *
 * Prints "MATCHED <topic>" once each reader has matched a writer.
 * Runs until SIGTERM or SIGINT, or 120 s at most. Refuses to start without
 * CYCLONEDDS_URI, so it never picks a network interface by itself.
 */
#include <inttypes.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "dds/dds.h"

#include CHRONAVEL_PEER_TYPES_HEADER

static volatile sig_atomic_t g_stop = 0;

static void on_signal(int sig)
{
  (void)sig;
  g_stop = 1;
}

static dds_time_t now_ns(void)
{
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (dds_time_t)ts.tv_sec * DDS_NSECS_IN_SEC + ts.tv_nsec;
}

static void print_header(const aspn2_msgs_idl_header *h)
{
  printf(" seq_num=%" PRId64 " arrival=%" PRId64 ",%" PRId32 ",%" PRId32
         " valid=%" PRId64 ",%" PRId32 ",%" PRId32 " device_id=%" PRId32,
         h->seq_num, h->timestamp_arrival.sec, h->timestamp_arrival.nsec,
         h->timestamp_arrival.time_code, h->timestamp_valid.sec, h->timestamp_valid.nsec,
         h->timestamp_valid.time_code, h->device_id);
}

static void bump_header(aspn2_msgs_idl_header *h)
{
  h->seq_num += 1;
  h->timestamp_arrival.sec += 1;
  h->timestamp_arrival.nsec += 1;
  h->timestamp_arrival.time_code += 1;
  h->timestamp_valid.sec += 1;
  h->timestamp_valid.nsec += 1;
  h->timestamp_valid.time_code += 1;
  h->device_id += 1;
}

/* A neighbouring enumerator that always exists: 0 <-> 1, n -> n-1. */
static int neighbour(int value)
{
  return value == 0 ? 1 : value - 1;
}

static char *prefixed(const char *text)
{
  static const char prefix[] = "cyclone:";
  size_t n = text ? strlen(text) : 0;
  char *out = dds_alloc(sizeof prefix + n);
  memcpy(out, prefix, sizeof prefix - 1);
  if (n)
    memcpy(out + sizeof prefix - 1, text, n);
  out[sizeof prefix - 1 + n] = '\0';
  return out;
}

static void print_text(const char *name, const char *text)
{
  size_t n = text ? strlen(text) : 0;
  printf(" %s=%zu:", name, n);
  if (n)
    fwrite(text, 1, n, stdout);
}

static int wait_matched(dds_entity_t writer)
{
  dds_time_t deadline = now_ns() + DDS_SECS(20);
  while (!g_stop && now_ns() < deadline)
  {
    dds_publication_matched_status_t st;
    if (dds_get_publication_matched_status(writer, &st) == DDS_RETCODE_OK && st.current_count > 0)
      return 1;
    dds_sleepfor(DDS_MSECS(2));
  }
  return 0;
}

static void handle_utc(dds_entity_t reader, dds_entity_t writer)
{
  aspn2_msgs_idl_UTCTime sample;
  void *samples[1] = {&sample};
  dds_sample_info_t info;
  memset(&sample, 0, sizeof sample);
  while (dds_take(reader, samples, &info, 1, 1) > 0)
  {
    if (!info.valid_data)
      continue;
    printf("UTCTime");
    print_header(&sample.header);
    printf(" gps_tow_sec=%" PRId32 " gps_tow_nsec=%.17g gps_week=%" PRId32 " utc_tod_sec=%" PRId32
           " utc_tod_nsec=%.17g a1=%.17g covariance=%.17g,%.17g,%.17g,%.17g\n",
           sample.gps_tow_sec, sample.gps_tow_nsec, sample.gps_week, sample.utc_tod_sec,
           sample.utc_tod_nsec, sample.a1, sample.covariance[0][0], sample.covariance[0][1],
           sample.covariance[1][0], sample.covariance[1][1]);
    fflush(stdout);

    bump_header(&sample.header);
    sample.gps_tow_sec += 1;
    sample.gps_tow_nsec *= 2;
    sample.gps_week += 1;
    sample.utc_tod_sec += 1;
    sample.utc_tod_nsec *= 2;
    sample.a1 *= 2;
    for (int i = 0; i < 2; i++)
      for (int j = 0; j < 2; j++)
        sample.covariance[i][j] *= 2;
    if (wait_matched(writer) && dds_write(writer, &sample) == DDS_RETCODE_OK)
      printf("SENT UTCTime\n");
    else
      printf("FAILED UTCTime\n");
    fflush(stdout);
  }
}

static void handle_command(dds_entity_t reader, dds_entity_t writer)
{
  void *samples[1] = {NULL};
  dds_sample_info_t info;
  while (dds_take(reader, samples, &info, 1, 1) > 0)
  {
    aspn2_msgs_idl_CommandResponse *in = samples[0];
    if (info.valid_data)
    {
      printf("CommandResponse");
      print_header(&in->header);
      printf(" commanded_device_id=%" PRId32 " command_identifier=%" PRId32 " command_response_type=%d",
             in->commanded_device_id, in->command_identifier, (int)in->command_response_type);
      print_text("command_response", in->command_response);
      printf("\n");
      fflush(stdout);

      aspn2_msgs_idl_CommandResponse out = *in;
      bump_header(&out.header);
      out.commanded_device_id += 1;
      out.command_identifier += 1;
      out.command_response_type =
          (aspn2_msgs_idl_command_response_type_enum)neighbour((int)in->command_response_type);
      out.command_response = prefixed(in->command_response);
      if (wait_matched(writer) && dds_write(writer, &out) == DDS_RETCODE_OK)
        printf("SENT CommandResponse\n");
      else
        printf("FAILED CommandResponse\n");
      fflush(stdout);
      dds_free(out.command_response);
    }
    dds_return_loan(reader, samples, 1);
    samples[0] = NULL;
  }
}

static void handle_event(dds_entity_t reader, dds_entity_t writer)
{
  void *samples[1] = {NULL};
  dds_sample_info_t info;
  while (dds_take(reader, samples, &info, 1, 1) > 0)
  {
    aspn2_msgs_idl_EventLog *in = samples[0];
    if (info.valid_data)
    {
      printf("EventLog");
      print_header(&in->header);
      printf(" event_log_type=%d", (int)in->event_log_type);
      print_text("eventlog", in->eventlog);
      printf("\n");
      fflush(stdout);

      aspn2_msgs_idl_EventLog out = *in;
      bump_header(&out.header);
      out.event_log_type = (aspn2_msgs_idl_event_log_type_enum)neighbour((int)in->event_log_type);
      out.eventlog = prefixed(in->eventlog);
      if (wait_matched(writer) && dds_write(writer, &out) == DDS_RETCODE_OK)
        printf("SENT EventLog\n");
      else
        printf("FAILED EventLog\n");
      fflush(stdout);
      dds_free(out.eventlog);
    }
    dds_return_loan(reader, samples, 1);
    samples[0] = NULL;
  }
}

int main(int argc, char **argv)
{
  if (argc != 2)
  {
    fprintf(stderr, "usage: %s DOMAIN\n", argv[0]);
    return 1;
  }
  const char *uri = getenv("CYCLONEDDS_URI");
  if (uri == NULL || uri[0] == '\0')
  {
    fprintf(stderr, "%s: CYCLONEDDS_URI must restrict the peer to an interface\n", argv[0]);
    return 2;
  }
  char *end = NULL;
  unsigned long domain = strtoul(argv[1], &end, 10);
  if (end == argv[1] || *end != '\0' || domain > 232)
  {
    fprintf(stderr, "%s: bad domain %s\n", argv[0], argv[1]);
    return 1;
  }

  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_signal;
  sigaction(SIGTERM, &sa, NULL);
  sigaction(SIGINT, &sa, NULL);

  dds_entity_t participant = dds_create_participant((dds_domainid_t)domain, NULL, NULL);
  if (participant < 0)
  {
    fprintf(stderr, "dds_create_participant: %s\n", dds_strretcode(-participant));
    return 3;
  }

  /* The transport's table: reliable, keep last, writers keep their history. */
  dds_qos_t *rqos = dds_create_qos();
  dds_qset_reliability(rqos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(rqos, DDS_HISTORY_KEEP_LAST, 10);
  dds_qset_durability(rqos, DDS_DURABILITY_VOLATILE);
  dds_qos_t *wqos = dds_create_qos();
  dds_qset_reliability(wqos, DDS_RELIABILITY_RELIABLE, DDS_SECS(1));
  dds_qset_history(wqos, DDS_HISTORY_KEEP_LAST, 10);
  dds_qset_durability(wqos, DDS_DURABILITY_TRANSIENT_LOCAL);

  const dds_topic_descriptor_t *descs[3] = {&aspn2_msgs_idl_UTCTime_desc, &aspn2_msgs_idl_CommandResponse_desc,
                                            &aspn2_msgs_idl_EventLog_desc};
  const char *in_names[3] = {"UTCTimeToPeer", "CommandToPeer", "EventLogToPeer"};
  const char *out_names[3] = {"UTCTimeFromPeer", "CommandFromPeer", "EventLogFromPeer"};
  dds_entity_t readers[3], writers[3];
  for (int i = 0; i < 3; i++)
  {
    dds_entity_t tin = dds_create_topic(participant, descs[i], in_names[i], NULL, NULL);
    dds_entity_t tout = dds_create_topic(participant, descs[i], out_names[i], NULL, NULL);
    readers[i] = tin < 0 ? tin : dds_create_reader(participant, tin, rqos, NULL);
    writers[i] = tout < 0 ? tout : dds_create_writer(participant, tout, wqos, NULL);
    if (readers[i] < 0 || writers[i] < 0)
    {
      fprintf(stderr, "cannot create the endpoints of %s\n", in_names[i]);
      dds_delete(participant);
      return 3;
    }
  }
  dds_delete_qos(rqos);
  dds_delete_qos(wqos);

  printf("READY\n");
  fflush(stdout);

  /* A volatile reader only gets what is written after it has matched the
     writer, so the other side waits for these lines before it writes. */
  int reported[3] = {0, 0, 0};
  dds_time_t deadline = now_ns() + DDS_SECS(120);
  while (!g_stop && now_ns() < deadline)
  {
    for (int i = 0; i < 3; i++)
    {
      dds_subscription_matched_status_t st;
      if (!reported[i] && dds_get_subscription_matched_status(readers[i], &st) == DDS_RETCODE_OK &&
          st.current_count > 0)
      {
        reported[i] = 1;
        printf("MATCHED %s\n", in_names[i]);
        fflush(stdout);
      }
    }
    handle_utc(readers[0], writers[0]);
    handle_command(readers[1], writers[1]);
    handle_event(readers[2], writers[2]);
    dds_sleepfor(DDS_MSECS(1));
  }
  dds_delete(participant);
  printf("DONE\n");
  return 0;
}
