/*
 * wqdatasend: the TCP transport that the vudaduv exports call.
 *
 * SendData sends every command line of command->lines, in order, to every scale address of
 * target->targets, each target on its own connection and all targets at once. For each command
 * line it writes the line whole and then reads exactly one reply line (ended by LF, an optional
 * CR before it). When all targets are done, it appends the reply lines to "Rec.txt" in the
 * current directory, one per line with CR LF, grouped per target in the order of
 * target->targets; the file is created when missing and never truncated. What a failing target
 * answered before it failed is kept.
 *
 * A refused connection, a time-out or a dropped connection is retried (reconnect, resume from
 * the command that got no reply) before the target counts as failed; a failing target never
 * stops the others.
 *
 * Addresses: "host", "host:port", "[v6addr]:port" or "[v6addr]". Without a port the port of
 * target->values[3] is used, by default 4001.
 *
 * target->values (every entry optional; a missing entry or 0 means the default):
 *   values[0]  reply time-out, milliseconds              (default 3000)
 *   values[1]  connect time-out, milliseconds            (default 3000)
 *   values[2]  retries after the first try, per target   (default 2; 0xFFFFFFFF means none)
 *   values[3]  port for addresses without one             (default 4001)
 *   values[4]  longest reply line accepted, in bytes     (default 65536)
 *
 * Thread safety: SendData may run on any thread; calls that overlap in one current directory
 * append to the same "Rec.txt".
 */
#ifndef WQDATASEND_H
#define WQDATASEND_H

#include "vudaduv.h"

#if defined(_WIN32)
#if defined(WQDATASEND_BUILDING)
#define WQDATASEND_API __declspec(dllexport)
#else
#define WQDATASEND_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define WQDATASEND_API __attribute__((visibility("default")))
#else
#define WQDATASEND_API
#endif

/* Result codes of SendData. Fixed values, never renumbered. When several targets fail, the
 * result is the code of the first failing target in the order of target->targets. */
#define WQDS_OK 0              /* every target answered every command */
#define WQDS_BAD_REQUEST 1     /* a NULL record, or no target at all */
#define WQDS_BAD_ADDRESS 2     /* an address that cannot be parsed or resolved */
#define WQDS_REFUSED 3         /* the connection was refused or the host unreachable */
#define WQDS_TIMEOUT 4         /* no connection or no whole reply within the time-out */
#define WQDS_CLOSED 5          /* the scale closed the connection before replying */
#define WQDS_REPLY_TOO_LONG 6  /* a reply line longer than the limit */
#define WQDS_UPLOAD_FILE 7     /* "Rec.txt" could not be appended to */
#define WQDS_INTERNAL 8        /* out of memory or another failure of this machine */

#ifdef __cplusplus
extern "C" {
#endif

WQDATASEND_API int32_t WQ_CALL SendData(const WQST* target, const WQST* command);

#ifdef __cplusplus
}
#endif

#endif /* WQDATASEND_H */
