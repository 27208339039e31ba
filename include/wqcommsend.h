/*
 * wqcommsend: the serial transport that the vudaduv exports call.
 *
 * COMMSendData writes every command line of command->lines, in order, to the serial line
 * command->link, and after each line reads exactly one reply line (ended by LF, an optional CR
 * before it; both are stripped). The lines are written as they are (they carry their own
 * CR LF); an empty (or NULL) command line is left out. The application opens and configures the
 * line (speed, parity, raw mode) and passes its descriptor in link: a file descriptor on POSIX
 * systems, a HANDLE on Windows. The transport neither opens, reconfigures nor closes it. On
 * POSIX systems the line may be blocking or not, but it must report input as soon as a byte is
 * there: VMIN 0 or 1 (as raw mode sets it), or a VTIME above 0. On Windows link is the HANDLE
 * of a communications port (or a pipe) opened for reading and writing, with or without
 * FILE_FLAG_OVERLAPPED, cut to 32 bits (Windows handles fit); the port's own time-outs are
 * borrowed for each read and write and put back afterwards.
 * request must not be NULL; nothing else of it is read.
 *
 * A reply that does not come within the reply time-out (3000 ms, the command's write included)
 * is asked for again by writing the command once more, up to two times, before the send counts
 * as failed; input not yet read is dropped before each repeat, so a late answer cannot pass
 * for the next one. Any other failure (hang-up, over-long reply, write error) ends the send at
 * once; the commands after it are not sent. When the send ends, the replies received are
 * appended to "Rec.txt" in the current directory in one write, one per line with CR LF; the
 * file is created when missing (also when no reply came) and never truncated. The append is all
 * or nothing: when not every byte can be written (a full disk), the file is cut back to its
 * length before the append and the result is WQCS_UPLOAD_FILE. With no command
 * line to send, COMMSendData returns 0 without touching the line or "Rec.txt".
 *
 * No exception leaves COMMSendData.
 *
 * Thread safety: COMMSendData may run on any thread, but two calls must not share one line.
 */
#ifndef WQCOMMSEND_H
#define WQCOMMSEND_H

#include "vudaduv.h"

#if defined(_WIN32)
#if defined(WQCOMMSEND_BUILDING)
#define WQCOMMSEND_API __declspec(dllexport)
#else
#define WQCOMMSEND_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define WQCOMMSEND_API __attribute__((visibility("default")))
#else
#define WQCOMMSEND_API
#endif

/* Result codes of COMMSendData. Fixed values, never renumbered; the same numbers as SendData's
 * codes where the meaning is the same. When "Rec.txt" could not be appended to, the result is
 * WQCS_UPLOAD_FILE whatever the line did: the replies are lost. */
#define WQCS_OK 0 /* every command was answered */
#define WQCS_BAD_REQUEST                                                                      \
    1                         /* a NULL record, or a link that is not a line open for reading \
                                 and writing */
#define WQCS_TIMEOUT 4        /* no whole reply within the time-out, after the retries */
#define WQCS_CLOSED 5         /* the line was closed or hung up */
#define WQCS_REPLY_TOO_LONG 6 /* a reply line longer than 65536 bytes */
#define WQCS_UPLOAD_FILE 7    /* "Rec.txt" could not be appended to */
#define WQCS_INTERNAL 8       /* out of memory, a write error or another failure */

#ifdef __cplusplus
extern "C" {
#endif

WQCOMMSEND_API int32_t WQ_CALL COMMSendData(const WQCOMM* request, const WQCOMM* command);

#ifdef __cplusplus
}
#endif

#endif /* WQCOMMSEND_H */
