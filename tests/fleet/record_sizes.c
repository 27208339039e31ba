/* The size-prefixed records of the fleet's C header end without padding, on every target this
 * file is compiled for (32-bit and 64-bit, Linux and Windows): a field a later version adds at
 * the end must never land on bytes an older program left unset. Compiled, never run: an array of
 * size -1 is a compile error, in C99 as in later C. */
#include <stddef.h>

#include "vudaduv_fleet_c.h"

#define ENDS_AT_LAST_FIELD(type, last) \
    (sizeof(type) == offsetof(type, last) + sizeof(((type*)0)->last))

typedef char options_end_without_padding[ENDS_AT_LAST_FIELD(VDFleetOptions, state_dir) ? 1 : -1];
typedef char
    request_ends_without_padding[ENDS_AT_LAST_FIELD(VDFleetSyncRequest, reserved) ? 1 : -1];
typedef char event_ends_without_padding[ENDS_AT_LAST_FIELD(VDFleetProgressEvent, scales) ? 1 : -1];

/* The sizes the bindings declare, per word size. */
typedef char options_size[sizeof(VDFleetOptions) == (sizeof(void*) == 4 ? 28 : 32) ? 1 : -1];
typedef char request_size[sizeof(VDFleetSyncRequest) == (sizeof(void*) == 4 ? 48 : 64) ? 1 : -1];
typedef char event_size[sizeof(VDFleetProgressEvent) == 32 ? 1 : -1];

/* A 1.0 caller's request ends where reserved begins. */
typedef char request_of_1_0[offsetof(VDFleetSyncRequest, reserved) == (sizeof(void*) == 4 ? 44 : 60)
                                ? 1
                                : -1];

int vudaduv_record_sizes_checked(void);
int vudaduv_record_sizes_checked(void) {
    return 1;
}
