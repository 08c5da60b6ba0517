/* Decodes of the Vandora reader service, for other programs.
 *
 * The service leaves each decode as one record in the message queue /VandoraQueue and sets the
 * event /DecodeEvent (a named semaphore), both followed by $VANDORA_IPC_SUFFIX when it is set.
 * A reader waits on the event, then takes the record. The queue holds one record: a newer decode
 * replaces one that no reader has been woken for. A reader that keeps up (waits again as soon as
 * it has a record) gets every decode, in order, once. A slow reader misses the decodes that came
 * while it was not waiting, all but the last; a reader that was woken but takes its record only
 * after 200 ms loses it to the next decode.
 *
 *   vandora_client* c = vandora_client_open();
 *   vandora_decode d;
 *   while (vandora_client_wait(c, -1, &d) == 1) { ... d.data, d.data_length ... }
 *   vandora_client_close(c);
 */
#ifndef VANDORA_CLIENT_H
#define VANDORA_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VANDORA_RECORD_SIZE 4232
#define VANDORA_KIND_BARCODE 7
#define VANDORA_KIND_RFID 0x20

typedef struct vandora_decode {
    uint8_t kind;      /* 7 barcode, 0x20 RFID */
    uint8_t code_type; /* barcode code type number, or the RFID tag family letter */
    uint32_t length;   /* barcode: data bytes (may exceed data_length); RFID: UID characters */
    char uid[21];      /* RFID: the UID text (at most 20 characters), 0-terminated */
    uint8_t data[4096];
    size_t data_length; /* bytes in data: the barcode data, or the RFID user data */
} vandora_decode;

typedef struct vandora_client vandora_client;

/* Opens the queue and the event (creating them when the service has not yet); NULL on error.
 * The service makes both anew when it starts; a client opened before moves to the new pair by
 * itself on its next wait. */
vandora_client* vandora_client_open(void);
void vandora_client_close(vandora_client* client);

/* Waits up to timeout_ms (negative: no limit) for a decode. 1: *out holds it; 0: time-out, or
 * the event came but another reader took the record first (call again); -1: error (errno set).
 * A decode published while nobody waited is still taken: the event stays set until a reader
 * takes it. One client per thread. Link with the flags of `pkg-config --libs vandora-client`. */
int vandora_client_wait(vandora_client* client, int timeout_ms, vandora_decode* out);

/* 1 when a record is waiting in the queue now (published before this call and not yet taken,
 * for example before the reader started), 0 when none, -1 on error. */
int vandora_client_pending(vandora_client* client);

/* Parses a 4232-byte record. 0 on success, -1 when the record is malformed. */
int vandora_parse_record(const uint8_t* record, size_t size, vandora_decode* out);

#ifdef __cplusplus
}
#endif

#endif
