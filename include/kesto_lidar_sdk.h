/*
 * The lidar kit's public interface: entry points, observer and completion function types and
 * the records they pass. C-compatible; nothing of the kit's internals or of its third-party
 * libraries appears here.
 *
 * Every pointer the kit passes to an observer or completion function (packet, text, record,
 * response) is valid only during that call. Observers and completion functions run on the kit's
 * network threads; the client-data pointer is owned by the registering side and passed back
 * unchanged.
 */
#ifndef KESTO_LIDAR_SDK_H_
#define KESTO_LIDAR_SDK_H_

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Device-type codes. */
enum {
  kKestoLidarDevTypeOrbit = 9,
  kKestoLidarDevTypeVela = 10,
  kKestoLidarDevTypeUnnamed = 16
};

/* Completion status: 0 success, -4 no acknowledgement in time, -9 send failed (or an
 * acknowledgement too short to hold its result; no response then). The command entry
 * points return 0 when the command was handed over, -7 when the lidar is unknown to the query and
 * -9 when the lidar has no command handler; only after 0 does the completion function run. */
typedef int32_t kesto_status;

#pragma pack(push, 1)

/* One point-cloud or IMU datagram as received; little-endian. Only the data type, the timestamp
 * and the data area are interpreted; the data area runs to the end of the datagram. */
typedef struct {
  uint8_t header[10];
  uint8_t data_type;      /* 0 IMU, 1/2/3 point data of that type */
  uint8_t reserved[17];
  uint8_t timestamp[8];   /* u64 little-endian */
  uint8_t data[1];        /* first byte of the data area */
} KestoLidarEthernetPacket;

/* Given to the information-change observer when a lidar has been configured. */
typedef struct {
  uint8_t dev_type;
  char sn[16];            /* zero-terminated serial number */
  char lidar_ip[16];      /* zero-terminated dotted IPv4 address */
} KestoLidarIdentity;

/* Acknowledgement of a set-parameters request. */
typedef struct {
  uint8_t ret_code;       /* 0 accepted */
  uint16_t error_key;     /* key that was refused, 0 if none */
} KestoLidarAsyncControlResponse;

/* Acknowledgement of an internal-information query: param_num entries of
 * (key u16, length u16, value of that many bytes) follow from `data`. */
typedef struct {
  uint8_t ret_code;
  uint16_t param_num;
  uint8_t data[1];
} KestoLidarDiagInternalInfoResponse;

/* Acknowledgement of a log-capture control command. */
typedef struct {
  uint8_t ret_code;
} KestoLidarLoggerResponse;

/* Lidar-log configuration for the host-address start of the kit. */
typedef struct {
  uint8_t lidar_log_enable;         /* 0 or 1 */
  uint32_t lidar_log_cache_size;    /* megabytes */
  char lidar_log_path[256];         /* zero-terminated */
} KestoLidarLoggerCfgInfo;

#pragma pack(pop)

/* Observer and completion function types. */
typedef void (*KestoLidarDataObserver)(uint32_t handle, uint8_t dev_type,
                                       const KestoLidarEthernetPacket* packet, void* client_data);
typedef void (*KestoLidarPushMessageObserver)(uint32_t handle, uint8_t dev_type, const char* info,
                                              void* client_data);
typedef void (*KestoLidarInfoChangeObserver)(uint32_t handle, const KestoLidarIdentity* info,
                                             void* client_data);
/* Changes of a lidar's state, told to the state observer. Detected: its first discovery reply
 * was taken. Configured: its set-up has ended (the information-change observer is told too).
 * Lost: it missed three discovery periods in a row. Back: a lost lidar answered again; its
 * whole set-up follows once more, as for a new lidar. */
enum {
  kKestoLidarStateDetected = 0,
  kKestoLidarStateConfigured = 1,
  kKestoLidarStateLost = 2,
  kKestoLidarStateBack = 3
};
typedef void (*KestoLidarStateObserver)(uint32_t handle, int state,
                                        const KestoLidarIdentity* identity, void* client_data);
typedef void (*KestoLidarAsyncControlCallback)(kesto_status status, uint32_t handle,
                                               KestoLidarAsyncControlResponse* response,
                                               void* client_data);
typedef void (*KestoLidarInternalInfoCallback)(kesto_status status, uint32_t handle,
                                               KestoLidarDiagInternalInfoResponse* response,
                                               void* client_data);
typedef void (*KestoLidarLoggerCallback)(kesto_status status, uint32_t handle,
                                         KestoLidarLoggerResponse* response, void* client_data);

/* Lifecycle; call from one application thread. A handle is the lidar's IPv4 address as a
 * 32-bit value in network byte order. */
bool KestoSdkStart(const char* cfg_path, const char* host_ip,
                   const KestoLidarLoggerCfgInfo* log_cfg_info);
void KestoSdkStop(void);

/* Recording: from the next start until its stop, every datagram the kit receives from lidars
 * and every datagram it sends them goes into a pcapng capture file at `path` (raw IPv4/UDP
 * packets with their addresses, ports and nanosecond times). With `max_megabytes` not 0, a new
 * file starts at that size, numbered after the first ("run.pcapng", "run-2.pcapng", ...). The
 * recording never slows the kit: what the disk cannot take in time is left out and counted.
 * A null or empty path records nothing. False while the kit runs. Each start that records
 * needs its own call; a start fails when the first file cannot be created. */
bool KestoSdkRecordTo(const char* path, uint32_t max_megabytes);
typedef struct {
  uint64_t recorded;  /* datagrams written */
  uint64_t dropped;   /* datagrams left out of the recording */
  uint32_t files;     /* files started */
} KestoRecordCounts;
/* The running recording's counts, or the last one's after its stop; zeros when none ran. */
void KestoSdkGetRecordCounts(KestoRecordCounts* counts);

/* Datagrams the operating system dropped on the kit's data sockets, for a full receive buffer,
 * before the kit could read them: since the running kit's start, or over the last run after its
 * stop. Linux tells this count; Windows does not, and it stays 0 there. Any thread. */
uint64_t KestoSdkGetOsDropped(void);

/* Observers; a null function stops that kind of delivery. They run on the kit's threads and must
 * not block. The data observers and the information-change observer are cleared by a stop; the
 * push-message and state observers stay. */
void SetPointCloudObserver(KestoLidarDataObserver cb, void* client_data);
void SetImuDataObserver(KestoLidarDataObserver cb, void* client_data);
void SetPushMessageObserver(KestoLidarPushMessageObserver cb, void* client_data);
void SetInfoChangeObserver(KestoLidarInfoChangeObserver cb, void* client_data);
/* Optional: lidars found, set up, lost and back. */
void SetLidarStateObserver(KestoLidarStateObserver cb, void* client_data);

/* Commands; safe from any thread, including from inside observers and completion functions. */
kesto_status RequestPointDataType(uint32_t handle, int data_type, KestoLidarAsyncControlCallback cb,
                                  void* client_data);
kesto_status RequestWorkMode(uint32_t handle, int work_mode, KestoLidarAsyncControlCallback cb,
                             void* client_data);
kesto_status QueryKestoLidarInternalInfo(uint32_t handle, KestoLidarInternalInfoCallback cb,
                                         void* client_data);

#ifdef __cplusplus
} /* extern "C" */

static_assert(offsetof(KestoLidarEthernetPacket, data_type) == 10, "data type at byte 10");
static_assert(offsetof(KestoLidarEthernetPacket, timestamp) == 28, "timestamp at bytes 28-35");
static_assert(offsetof(KestoLidarEthernetPacket, data) == 36, "data area from byte 36");
static_assert(sizeof(KestoLidarIdentity) == 33, "identity is byte-packed");
static_assert(sizeof(KestoLidarAsyncControlResponse) == 3, "control response is 3 bytes");
static_assert(offsetof(KestoLidarDiagInternalInfoResponse, data) == 3, "entries from byte 3");
static_assert(offsetof(KestoLidarLoggerCfgInfo, lidar_log_path) == 5, "log path from byte 5");
#endif

#endif /* KESTO_LIDAR_SDK_H_ */
