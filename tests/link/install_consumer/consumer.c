/* Uses the library as any C program would: refuses "no connection" handles. */
#include <qz417link.h>

#include <stddef.h>

int main(void) {
    if (QZ417_Disconnect(-1) != 0 || QZ417_UDP_GetResult(0, NULL) != 0)
        return 1;
    QZ_ClearList(NULL);
    return sizeof(DeviceAnnouncement) >= QZ417_ANNOUNCEMENT_SIZE + sizeof(void *) ? 0 : 1;
}
