/*
 * qz417link - device link library for QZ417 laser profile scanners.
 *
 * Finds scanners by their UDP announcements, talks to one of them over the
 * TCP command channel (port 417) and receives the UDP profile stream.
 *
 * Conventions shared by every function:
 *  - results are 32-bit signed integers: 1 (or a socket handle) on success,
 *    0 (or -1) on failure; nothing is ever printed or thrown;
 *  - socket handles 0 and -1 both mean "no connection" and are refused
 *    without touching the network;
 *  - buffers belong to the caller, have the fixed sizes below and are used
 *    only during the call;
 *  - after a failure the caller may read errno; the functions say no more.
 */
#ifndef QZ417LINK_H
#define QZ417LINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QZ417LINK_BUILDING)
#define QZ417LINK_API __attribute__((visibility("default")))
#else
#define QZ417LINK_API
#endif

/* Fixed sizes of the protocol, in bytes. */
#define QZ417_ANNOUNCEMENT_SIZE 268 /* one discovery datagram */
#define QZ417_PACKET_SIZE 4100      /* one measured profile */
#define QZ417_IMAGE_WIDTH 640
#define QZ417_IMAGE_HEIGHT 512
#define QZ417_IMAGE_SIZE (QZ417_IMAGE_WIDTH * QZ417_IMAGE_HEIGHT) /* 327680 */
#define QZ417_CONFIG_SIZE 512 /* the parameter block */
#define QZ417_ANGLE_SIZE 2    /* reply of the angle calculation */

#define QZ417_TYPE_CODE 417   /* type code of the scanners this library serves */
#define QZ417_TCP_PORT 417    /* command channel */
#define QZ417_SEARCH_PORT 6001 /* where announcements arrive */

/* Store modes of QZ417_FlushParams. */
#define QZ417_FLUSH_STORE 0    /* store the current block permanently */
#define QZ417_FLUSH_DEFAULTS 1 /* return to the factory defaults */

/*
 * One scanner heard by QZ_Search, and a node of the list it returns.
 * Bytes 0..267 have the layout of the announcement datagram (multi-byte
 * numbers in it are little-endian on the wire; `type` here is in host order).
 */
typedef struct DeviceAnnouncement {
    uint16_t type;               /* model type code, 417 */
    uint8_t ip[4];               /* IPv4 address in dotted order: ip[0].ip[1].ip[2].ip[3] */
    uint8_t mac[6];              /* MAC address in transmission order */
    uint8_t description[255];    /* device self-description */
    uint8_t reserved;            /* always 0 in a list node */
    struct DeviceAnnouncement *next; /* following node, or NULL */
} DeviceAnnouncement;

/* Command channel. */
QZ417LINK_API int32_t QZ417_Connect(const DeviceAnnouncement *device);
QZ417LINK_API int32_t QZ417_Disconnect(int32_t socket);
QZ417LINK_API int32_t QZ417_GetResult(int32_t socket, void *packet /* QZ417_PACKET_SIZE */);
QZ417LINK_API int32_t QZ417_GetImage(int32_t socket, void *image /* QZ417_IMAGE_SIZE */);
QZ417LINK_API int32_t QZ417_ReadParams(int32_t socket, void *config /* QZ417_CONFIG_SIZE */);
QZ417LINK_API int32_t QZ417_WriteParams(int32_t socket,
                                        const void *config /* QZ417_CONFIG_SIZE */);
QZ417LINK_API int32_t QZ417_FlushParams(int32_t socket, int32_t mode);
QZ417LINK_API int32_t QZ417_CalcAngle(int32_t socket, void *angle /* QZ417_ANGLE_SIZE */);

/* Discovery. typeFilter: low 16 bits, 0xFFFF accepts every type;
 * timeMs: low 16 bits, the listening time. Release the list with QZ_ClearList. */
QZ417LINK_API DeviceAnnouncement *QZ_Search(int32_t typeFilter, int32_t timeMs);
QZ417LINK_API void QZ_ClearList(DeviceAnnouncement *list);

/* UDP profile stream. port: low 16 bits. */
QZ417LINK_API int32_t QZ417_UDP_Connect(int32_t port);
QZ417LINK_API int32_t QZ417_UDP_GetResult(int32_t socket, void *packet /* QZ417_PACKET_SIZE */);
QZ417LINK_API int32_t QZ417_UDP_Disconnect(int32_t socket); /* same as QZ417_Disconnect */

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QZ417LINK_H */
