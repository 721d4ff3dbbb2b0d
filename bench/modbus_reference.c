/* The reference master for the per-request figure: libmodbus reading the window's block
 * (device 1, 12 holding registers from 4011) over and over, timed per request, on a serial
 * device or, given tcp://HOST[:PORT] (port 502 unless given), over Modbus TCP with unit id 1.
 *
 * Usage: modbus_reference DEVICE|tcp://HOST[:PORT] REQUESTS quiet|back-to-back
 * Prints key=value lines as the meterlog harnesses do. */
#include <modbus.h>

#include <errno.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { firstRegister = 4011, registerCount = 12, deviceAddress = 1, quietMicroseconds = 3000 };
enum { modbusTcpPort = 502, longestHost = 255 };

static const char tcpScheme[] = "tcp://";

/* A serial context for a device path, a TCP one for tcp://HOST[:PORT]; NULL for a bad address. */
static modbus_t *newContext(const char *endpoint)
{
    if (strncmp(endpoint, tcpScheme, sizeof tcpScheme - 1) != 0)
        return modbus_new_rtu(endpoint, 38400, 'N', 8, 1);
    const char *host = endpoint + sizeof tcpScheme - 1;
    const char *colon = strrchr(host, ':');
    const size_t hostLength = colon ? (size_t)(colon - host) : strlen(host);
    if (hostLength == 0 || hostLength > longestHost)
        return NULL;
    char hostText[longestHost + 1];
    memcpy(hostText, host, hostLength);
    hostText[hostLength] = '\0';
    const int port = colon ? atoi(colon + 1) : modbusTcpPort;
    if (port <= 0 || port > 65535)
        return NULL;
    return modbus_new_tcp(hostText, port);
}

static double nowMs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

static int byValue(const void *a, const void *b)
{
    const double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double rank(const double *sorted, int n, double share)
{
    int r = (int)(share * n + 0.999999);
    if (r < 1)
        r = 1;
    if (r > n)
        r = n;
    return sorted[r - 1];
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr,
            "usage: modbus_reference DEVICE|tcp://HOST[:PORT] REQUESTS quiet|back-to-back\n");
        return 2;
    }
    const int requests = atoi(argv[2]);
    const int quiet = strcmp(argv[3], "quiet") == 0;
    modbus_t *ctx = newContext(argv[1]);
    if (!ctx || modbus_set_slave(ctx, deviceAddress) != 0 || modbus_connect(ctx) != 0) {
        fprintf(stderr, "cannot open %s: %s\n", argv[1], modbus_strerror(errno));
        return 1;
    }
    double *ms = malloc(sizeof(double) * (size_t)requests);
    int verified = 0;
    for (int i = 0; i < requests; ++i) {
        uint16_t words[registerCount];
        if (quiet) {
            struct timespec pause = {0, quietMicroseconds * 1000L};
            nanosleep(&pause, NULL);
        }
        const double start = nowMs();
        const int got = modbus_read_registers(ctx, firstRegister, registerCount, words);
        ms[i] = nowMs() - start;
        verified += got == registerCount;
    }
    qsort(ms, (size_t)requests, sizeof(double), byValue);
    printf("requests=%d\nverified=%d\nmedian_ms=%.3f\np10_ms=%.3f\np90_ms=%.3f\n", requests,
        verified, rank(ms, requests, 0.5), rank(ms, requests, 0.1), rank(ms, requests, 0.9));
    free(ms);
    modbus_close(ctx);
    modbus_free(ctx);
    return verified == requests ? 0 : 1;
}
