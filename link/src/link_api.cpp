// Temporary entry points; replaced by the real exchanges.
#include "qz417link.h"

extern "C" {
int32_t QZ417_Connect(const DeviceAnnouncement *) { return 0; }
int32_t QZ417_Disconnect(int32_t) { return 0; }
int32_t QZ417_UDP_Disconnect(int32_t) __attribute__((alias("QZ417_Disconnect")));
int32_t QZ417_GetResult(int32_t, void *) { return 0; }
int32_t QZ417_GetImage(int32_t, void *) { return 0; }
int32_t QZ417_ReadParams(int32_t, void *) { return 0; }
int32_t QZ417_WriteParams(int32_t, const void *) { return 0; }
int32_t QZ417_FlushParams(int32_t, int32_t) { return 0; }
int32_t QZ417_CalcAngle(int32_t, void *) { return 0; }
DeviceAnnouncement *QZ_Search(int32_t, int32_t) { return nullptr; }
void QZ_ClearList(DeviceAnnouncement *) {}
int32_t QZ417_UDP_Connect(int32_t) { return 0; }
int32_t QZ417_UDP_GetResult(int32_t, void *) { return 0; }
}
