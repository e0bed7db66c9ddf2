/*
 * poll_profiles: fetch profiles from one scanner over the command channel and
 * print, for each, its measurement counter, its number of valid points and
 * its first valid point in millimetres.
 *
 *   poll_profiles [ADDR] [COUNT]     (defaults 127.0.0.1 and 10)
 *
 * The scale below is the usual one (X range 230 mm, Z range 250 mm, 16384
 * discrete units, error value 0); a scanner announces its own in its
 * description (see search_scanners.c and the README).
 */
#include <arpa/inet.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <qz417link.h>

enum { kRangeXEmr = 230, kRangeZ = 250, kDiscrete = 16384, kErrorValue = 0 };

static int16_t I16At(const uint8_t *p) {
    return (int16_t)(uint16_t)(p[0] | (p[1] << 8));
}

int main(int argc, char **argv) {
    const char *address = argc > 1 ? argv[1] : "127.0.0.1";
    const int count = argc > 2 ? atoi(argv[2]) : 10;
    struct in_addr ip;
    if (inet_pton(AF_INET, address, &ip) != 1 || count < 1) {
        fprintf(stderr, "usage: poll_profiles [ADDR] [COUNT]\n");
        return 2;
    }

    DeviceAnnouncement device;
    memset(&device, 0, sizeof device);
    device.type = QZ417_TYPE_CODE;
    memcpy(device.ip, &ip, 4); /* network order is dotted order */

    const int32_t sock = QZ417_Connect(&device);
    if (sock == -1) {
        fprintf(stderr, "poll_profiles: no scanner at %s\n", address);
        return 1;
    }

    static uint8_t packet[QZ417_PACKET_SIZE];
    int status = 0;
    for (int n = 0; n < count; ++n) {
        if (QZ417_GetResult(sock, packet) != 1) {
            fprintf(stderr, "poll_profiles: profile request failed\n");
            status = 1;
            break;
        }
        const unsigned counter = packet[0] | (packet[1] << 8);
        int valid = 0;
        double firstX = 0, firstZ = 0;
        for (int i = 0; i < 1024; ++i) {
            const int16_t z = I16At(packet + 4 + 4 * i);
            const int16_t x = I16At(packet + 6 + 4 * i);
            if (x == kErrorValue || z == kErrorValue)
                continue;
            if (valid++ == 0) {
                firstX = (double)kRangeXEmr * x / kDiscrete;
                firstZ = (double)kRangeZ * z / kDiscrete;
            }
        }
        printf("profile %u: %d valid points, first at x=%.3f mm z=%.3f mm\n", counter, valid,
               firstX, firstZ);
    }
    QZ417_Disconnect(sock);
    return status;
}
