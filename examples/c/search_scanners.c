/*
 * search_scanners: list the QZ417 scanners that announce themselves.
 *
 *   search_scanners [TIME_MS]     (default 2000)
 *
 * Exit status 0 when at least one scanner was heard, 1 otherwise.
 */
#include <stdio.h>
#include <stdlib.h>

#include <qz417link.h>

int main(int argc, char **argv) {
    const int timeMs = argc > 1 ? atoi(argv[1]) : 2000;
    if (timeMs < 1 || timeMs > 65535) {
        fprintf(stderr, "search_scanners: TIME_MS must be 1..65535\n");
        return 2;
    }

    DeviceAnnouncement *list = QZ_Search(QZ417_TYPE_CODE, timeMs);
    int count = 0;
    for (const DeviceAnnouncement *d = list; d != NULL; d = d->next) {
        /* The description starts with option bits and a 24-bit serial number. */
        const unsigned serial =
            d->description[1] | (d->description[2] << 8) | ((unsigned)d->description[3] << 16);
        printf("%u.%u.%u.%u  %02X-%02X-%02X-%02X-%02X-%02X  QZ%u  serial %u\n", d->ip[0], d->ip[1],
               d->ip[2], d->ip[3], d->mac[0], d->mac[1], d->mac[2], d->mac[3], d->mac[4], d->mac[5],
               (unsigned)d->type, serial);
        ++count;
    }
    QZ_ClearList(list); /* the list belongs to the library's allocator */

    if (count == 0) {
        fprintf(stderr, "search_scanners: no scanner heard within %d ms\n", timeMs);
        return 1;
    }
    return 0;
}
