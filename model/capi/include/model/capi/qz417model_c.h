/* libqz417model_c: the model library's measurement tools, a stream's counts
 * and a UDP socket's receive figures as plain C functions, for the Python
 * package (ctypes) and any other language. Nothing here throws or prints: a
 * failure returns NULL or -1 and writes its one-line reason into the
 * caller's buffer.
 *
 * Profiles are X and Z arrays in millimetres; a NaN in either marks an
 * invalid point. Results of a tool are QZ417M_MAX_OUTPUTS doubles in the
 * order of its outputs (NaN when the tool gave no result or has fewer). */
#ifndef QZ417MODEL_C_H
#define QZ417MODEL_C_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QZ417MODEL_C_BUILD)
#define QZ417M_API __attribute__((visibility("default")))
#else
#define QZ417M_API
#endif

#define QZ417M_MAX_OUTPUTS 5

/* Limit states (qz417m_measure's limit_states). */
#define QZ417M_LIMIT_PASS 0
#define QZ417M_LIMIT_FAIL 1
#define QZ417M_LIMIT_NO_RESULT 2

typedef struct qz417m_job qz417m_job;

/* The scanner's scale: mm = range * raw / discrete; raw == error_value is invalid. */
typedef struct qz417m_scale {
    uint16_t range_x;
    uint16_t range_z;
    uint16_t discrete_value;
    int16_t error_value;
} qz417m_scale;

/* The version of the job file format this library reads. */
QZ417M_API int qz417m_job_format_version(void);

/* A job from a file or from its text; NULL with the reason in error. */
QZ417M_API qz417m_job *qz417m_job_load(const char *path, char *error, size_t error_size);
QZ417M_API qz417m_job *qz417m_job_parse(const char *text, size_t length, char *error,
                                        size_t error_size);
QZ417M_API void qz417m_job_free(qz417m_job *job);

/* The job written out (format and version included); valid until the job is freed. */
QZ417M_API const char *qz417m_job_json(const qz417m_job *job);

/* What the job holds. Out-of-range indices give -1 or NULL. */
QZ417M_API int qz417m_job_tool_count(const qz417m_job *job);
QZ417M_API const char *qz417m_job_tool_name(const qz417m_job *job, int tool);
QZ417M_API const char *qz417m_job_tool_kind(const qz417m_job *job, int tool);
QZ417M_API int qz417m_job_output_count(const qz417m_job *job, int tool);
QZ417M_API const char *qz417m_job_output_name(const qz417m_job *job, int tool, int output);
QZ417M_API const char *qz417m_job_output_unit(const qz417m_job *job, int tool, int output);
/* Limits of a tool, in the job's order; all tools' limits together make the
 * limit_states array of qz417m_measure (tool 0's first). */
QZ417M_API int qz417m_job_limit_count(const qz417m_job *job, int tool);
QZ417M_API int qz417m_job_total_limits(const qz417m_job *job);
/* Output index and bounds (NaN = none) of limit `limit` of `tool`; 0, or -1. */
QZ417M_API int qz417m_job_limit(const qz417m_job *job, int tool, int limit, int *output,
                                double *min, double *max);

/* Measures one profile of n points. values: tool_count * QZ417M_MAX_OUTPUTS;
 * tool_passed: tool_count (1 = every limit of the tool held); reasons
 * (may be NULL): tool_count static texts, NULL where the tool gave a result;
 * limit_states (may be NULL): qz417m_job_total_limits entries.
 * Returns 1 when every limit held, 0 when one failed, -1 on an error. */
QZ417M_API int qz417m_measure(qz417m_job *job, const double *x, const double *z, size_t n,
                              double *values, uint8_t *tool_passed, const char **reasons,
                              uint8_t *limit_states, char *error, size_t error_size);

/* The number of complete profiles of a recording, or -1 with the reason. */
QZ417M_API int64_t qz417m_recording_profiles(const char *path, char *error, size_t error_size);

/* Measures profiles first .. first + count - 1 of a recording, decoded with
 * scale (NULL: the recording's announcement, else 230, 250, 16384, 0).
 * Per profile p: values + p * tool_count * QZ417M_MAX_OUTPUTS, tool_passed +
 * p * tool_count, reasons (may be NULL) + p * tool_count; measurement_count
 * (may be NULL) + p. Returns the number of profiles measured, -1 on an error. */
QZ417M_API int64_t qz417m_measure_recording(qz417m_job *job, const char *path, uint64_t first,
                                            uint64_t count, const qz417m_scale *scale,
                                            double *values, uint8_t *tool_passed,
                                            const char **reasons, uint16_t *measurement_count,
                                            char *error, size_t error_size);

/* ---- Measurement results stored in a recording ----
 * A recording made while a job ran keeps each profile's results with it
 * (docs/recording-format.md, "Measurement results"). */

/* Bytes of one reason text of qz417m_read_recorded_results, with its NUL. */
#define QZ417M_REASON_SIZE 64

/* The jobs whose results a recording stores, in order (0 for a file without
 * results), or -1 with the reason (unreadable file, damaged results). */
QZ417M_API int64_t qz417m_recorded_jobs(const char *path, char *error, size_t error_size);

/* Stored job `index`: a new job handle (qz417m_job_free), the first profile
 * it applies to and the number of profiles stored with its results. NULL
 * with the reason on an error; NULL with an empty error for an entry that
 * says nothing was measured from *first_profile on. */
QZ417M_API qz417m_job *qz417m_recorded_job(const char *path, int64_t index, uint64_t *first_profile,
                                           uint64_t *profiles, char *error, size_t error_size);

/* The stored results of job `index`, at most capacity profiles. Per profile
 * p: profile[p] (its index in the recording), measurement_count (may be
 * NULL) + p, values + p * tool_count * QZ417M_MAX_OUTPUTS, tool_passed + p *
 * tool_count, reasons (may be NULL) + (p * tool_count + t) *
 * QZ417M_REASON_SIZE: the reason tool t gave no result, empty when it gave
 * one. Returns the number of profiles written, -1 on an error. */
QZ417M_API int64_t qz417m_read_recorded_results(const char *path, int64_t index, uint64_t capacity,
                                                uint64_t *profile, uint16_t *measurement_count,
                                                double *values, uint8_t *tool_passed, char *reasons,
                                                char *error, size_t error_size);

/* ---- Statistics of a profile stream (qz417::StreamStats) ----
 * The counts the window, the recorder and qz417ctl give a stream: one
 * implementation, observed packet by packet (see model/stream_stats.h for
 * what each count means). A counter is not thread-safe; distinct counters
 * run in parallel. */

typedef struct qz417m_stream_stats qz417m_stream_stats;

typedef struct qz417m_stream_counts {
    uint64_t received;   /* every packet observed */
    uint64_t lost;       /* counters skipped by the network, less late arrivals */
    uint64_t late;       /* arrived after a later one, not seen before */
    uint64_t duplicates; /* a counter seen again */
    uint64_t restarts;   /* the scanner began counting again */
} qz417m_stream_counts;

/* A counter with nothing observed; NULL (out of memory) with the reason. */
QZ417M_API qz417m_stream_stats *qz417m_stream_stats_new(char *error, size_t error_size);
QZ417M_API void qz417m_stream_stats_free(qz417m_stream_stats *stats);
/* One packet by its 16-bit packetCount; 0, or -1 when stats is NULL. */
QZ417M_API int qz417m_stream_stats_observe(qz417m_stream_stats *stats, uint16_t packet_count);
/* One packet by its bytes: size must be QZ417M_PACKET_SIZE, else nothing is
 * observed and -1 is returned. */
#define QZ417M_PACKET_SIZE 4100
QZ417M_API int qz417m_stream_stats_observe_packet(qz417m_stream_stats *stats, const uint8_t *packet,
                                                  size_t size);
/* The counts so far into *counts; 0, or -1 when an argument is NULL. */
QZ417M_API int qz417m_stream_stats_counts(const qz417m_stream_stats *stats,
                                          qz417m_stream_counts *counts);

/* What this computer did with a UDP socket (model/socket_receive.h). */
typedef struct qz417m_socket_receive {
    int32_t granted_bytes; /* receive buffer the kernel granted; 0: unknown */
    int32_t drops_known;   /* 1: drops holds the socket's drops; 0: unknown */
    uint64_t drops;        /* datagrams dropped because the buffer was full */
} qz417m_socket_receive;

/* Of the socket fd (e.g. what QZ417_UDP_Connect returned); 0, or -1 when
 * receive is NULL. What cannot be read stays unknown. */
QZ417M_API int qz417m_socket_receive_read(int fd, qz417m_socket_receive *receive);

#ifdef __cplusplus
}
#endif

#endif
