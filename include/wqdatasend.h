/*
 * wqdatasend: the TCP transport that the vudaduv exports call.
 *
 * SendData sends every command line of command->lines, in order, to every scale address of
 * target->targets, each target on its own connection and all targets at once, however many:
 * one event loop on the calling thread serves them all. For each command line it writes the
 * line whole, as it is (the lines carry their own CR LF), and then reads exactly one reply line
 * (ended by LF, an optional CR before it; both are stripped). Bytes that come after a reply's
 * LF are kept for the next reply. An empty (or NULL) command line is left out: nothing is
 * written for it and no reply is awaited.
 *
 * Each target needs a socket. On POSIX systems, when the process's soft limit of open files
 * leaves too little room for the targets of a call (their number and 256 more), SendData raises
 * it that far, at most to the hard limit; a limit that is high enough is left alone. A call
 * never holds more sockets at once than the limit leaves beside the descriptors open when it
 * starts and 32 more (for the rest of the process): the targets beyond wait their turn, each
 * taking the socket of a target done, and a target's time-outs start when its turn comes. A
 * target that finds no descriptor free (the rest of the process took them) waits for a socket of
 * the call's own to close; only when the call holds no other does it fail, with WQDS_INTERNAL.
 *
 * When all targets are done, it appends the reply lines to "Rec.txt" in the current directory
 * in one write, one per line with CR LF, grouped per target in the order of target->targets;
 * the file is created when missing (also when no reply came) and never truncated. The append is
 * all or nothing: when not every byte can be written (a full disk), the file is cut back to its
 * length before the append and the result is WQDS_UPLOAD_FILE. What a failing target answered
 * before it failed is kept; a reply cut short is not.
 *
 * A refused connection, a time-out or a dropped connection is retried (pause, reconnect, resume
 * from the command that got no reply, so each command is answered once) before the target
 * counts as failed; the retries are counted per target over the whole call. A connection that
 * the scale resets right after taking it counts as dropped (WQDS_CLOSED). A bad address, a
 * reply over the length limit or a failure of this machine is not retried. A failing target
 * never stops the others.
 *
 * Addresses: "host", "host:port", "[v6addr]:port" or "[v6addr]"; an IPv6 address without
 * brackets ("::1") is taken whole, without a port. A host may be a name, tried address by
 * address. Without a port the port of target->values[3] is used, by default 4001. A port is a
 * decimal number from 1 to 65535.
 *
 * target->values (every entry optional; a missing entry or 0 means the default). The values of
 * the command record are not read.
 *   values[0]  reply time-out, milliseconds              (default 3000)
 *              the command's write and its whole reply line must fit in it
 *   values[1]  connect time-out, milliseconds            (default 3000)
 *              for all the addresses of a host together
 *   values[2]  retries after the first try, per target   (default 2; 0xFFFFFFFF means none)
 *   values[3]  port for addresses without one             (default 4001)
 *   values[4]  longest reply line accepted, in bytes     (default 65536)
 *              without its CR LF
 *   values[5]  pause before the first retry, ms          (default 500)
 *              doubled for each further retry, at most 8000
 *
 * Requests: a NULL record or no target at all gives WQDS_BAD_REQUEST (a NULL items array reads
 * as an empty list, a NULL string as ""). With targets but no command line to send, SendData
 * returns 0 at once: it connects nowhere and does not touch "Rec.txt".
 *
 * Writes never raise SIGPIPE. No exception leaves SendData.
 *
 * Thread safety: SendData may run on any thread; calls that overlap in one current directory
 * append to the same "Rec.txt", each call's replies in one write. Host names (not numeric
 * addresses) are resolved one after another on a helper thread that lives as long as the call.
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

/* Result codes of SendData. Fixed values, never renumbered. When "Rec.txt" could not be
 * appended to, the result is WQDS_UPLOAD_FILE whatever the targets did: their replies are lost.
 * Otherwise, when several targets fail, it is the code of the first failing target in the order
 * of target->targets, the code of its last try. */
#define WQDS_OK 0             /* every target answered every command */
#define WQDS_BAD_REQUEST 1    /* a NULL record, or no target at all */
#define WQDS_BAD_ADDRESS 2    /* an address that cannot be parsed or resolved */
#define WQDS_REFUSED 3        /* the connection was refused or the host unreachable */
#define WQDS_TIMEOUT 4        /* no connection or no whole reply within the time-out */
#define WQDS_CLOSED 5         /* the scale closed the connection before replying */
#define WQDS_REPLY_TOO_LONG 6 /* a reply line longer than the limit */
#define WQDS_UPLOAD_FILE 7    /* "Rec.txt" could not be appended to */
#define WQDS_INTERNAL 8       /* out of memory or another failure of this machine */

/* The slots of target->values (see above). */
#define WQDS_VALUE_REPLY_TIMEOUT 0   /* reply time-out, milliseconds */
#define WQDS_VALUE_CONNECT_TIMEOUT 1 /* connect time-out, milliseconds */
#define WQDS_VALUE_RETRIES 2         /* retries after the first try, per target */
#define WQDS_VALUE_PORT 3            /* port for addresses without one */
#define WQDS_VALUE_LONGEST_REPLY 4   /* longest reply line accepted, in bytes */
#define WQDS_VALUE_RETRY_PAUSE 5     /* pause before the first retry, milliseconds */

#define WQDS_NO_RETRIES 0xFFFFFFFFu /* in WQDS_VALUE_RETRIES: one try alone (0: the default) */
#define WQDS_DEFAULT_PORT 4001      /* the port of addresses without one, by default */

#ifdef __cplusplus
extern "C" {
#endif

WQDATASEND_API int32_t WQ_CALL SendData(const WQST* target, const WQST* command);

/* What became of one target of a send. */
typedef struct WQDSOutcome {
    int32_t code;          /* this target's own WQDS_ code (never WQDS_UPLOAD_FILE) */
    uint32_t answered;     /* command lines that got their reply */
    uint32_t connections;  /* connections tried: 1 plus the retries used; 0 for a bad address */
    uint32_t milliseconds; /* from the start of the call until this target was done */
} WQDSOutcome;

/* SendDataWithOutcomes: SendData, which also fills outcomes[i] for the i-th target of
 * target->targets, for i below count and below the number of targets; outcomes may be NULL
 * when count is 0. Its result is SendData's. When the request is bad (WQDS_BAD_REQUEST) or there is
 * no command line to send, outcomes is left as it was. Same thread safety as SendData. */
WQDATASEND_API int32_t WQ_CALL SendDataWithOutcomes(const WQST* target, const WQST* command,
                                                    WQDSOutcome* outcomes, uint32_t count);

/* Told of each target as it is done: index is its place in target->targets, outcome its final
 * outcome (valid during the call only). */
typedef void(WQ_CALL* WQDSTargetDone)(void* context, uint32_t index, const WQDSOutcome* outcome);

/* SendDataWithProgress: SendDataWithOutcomes, which also calls done (when not NULL) once for
 * every target, in the order the targets finish, on the calling thread, before "Rec.txt" is
 * written; context is passed on as it is. No call is made when the request is bad or there is no
 * command line to send. While done runs, every other target waits: it should return soon, and
 * must not call SendData or its siblings. */
WQDATASEND_API int32_t WQ_CALL SendDataWithProgress(const WQST* target, const WQST* command,
                                                    WQDSOutcome* outcomes, uint32_t count,
                                                    WQDSTargetDone done, void* context);

#ifdef __cplusplus
}
#endif

#endif /* WQDATASEND_H */
