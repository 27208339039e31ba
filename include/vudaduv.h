/*
 * vudaduv: data lines to label-scale command lines and back.
 *
 * An application fills a request record with data lines of one record type and calls one of
 * the six exports. The library turns every data line into the scale's command lines, hands the
 * whole command list to a transport library in one call (SendData of wqdatasend for the four
 * network exports, COMMSendData of wqcommsend for the two serial ones), then rewrites the upload
 * file "Rec.txt" in the current directory: the scale's reply tokens that the transport left
 * there become upload lines ("1P...", "3P...", "10P...", ...), CR LF ended. Upload lines already
 * in the file stay, each whole to its line end, until the application removes them. The file is
 * replaced all or nothing: the new contents go to a file beside it, flushed to the disk and
 * renamed over it, so a full disk or a crash leaves "Rec.txt" as it was.
 *
 * Strings are 8-bit byte strings, NUL-terminated; texts are GBK (code page 936) bytes.
 *
 * Record types (record_type):
 *   1  item record       "<item>A<fields>##<text1>##<text2>##<text3>"   -> !0V
 *   2  read item         "<item>"                                      -> !0U
 *   3  text message      "<number>A<text>" (numbers 0..22)             -> !0X
 *   4  read message      "<number>"                                    -> !0W
 *   5  text message      "<number>A<text>" (numbers 0..32)             -> !0Z
 *   6  read message      "<number>"                                    -> !0Y
 *   7  free data         any text, sent as it is                       -> !0O
 *   8  read free data    (no data line needed)                         -> !0N
 *   9  set the clock     (no data line needed; the computer's time)    -> !0P
 *   10 label texts       "<label>A<text1>B<text2>" (labels 0..15)      -> !0T and !0R
 *   11 read label        "<label>"                                     -> !0S and !0Q
 *   12 key table         exactly 568 bytes                             -> four !0L blocks
 *   13 read key table    (no data line needed)                         -> four !0K
 *   any other value      each data line is sent unchanged as a command line
 *
 * Thread safety: the library keeps no state between calls. Every send that reaches a transport
 * works on the one file "Rec.txt" of the current directory, and holds it from the transport call
 * until the rewrite has replaced it: calls from any threads, and from processes that share the
 * current directory, may overlap, and each waits for the one before it, so no reply is lost.
 * Between processes this is an exclusive lock of the system on the file "Rec.txt.lock" beside
 * "Rec.txt", which the first send creates and none deletes; the system releases it when the
 * process ends, also by a crash. A send holds it while its transport waits for the scales, so a
 * send to a scale that does not answer keeps the others waiting until its time-outs run out.
 * Where "Rec.txt.lock" cannot be created (a directory that may not be written), only the
 * threads of one process wait for each other.
 */
#ifndef VUDADUV_H
#define VUDADUV_H

#include <stdint.h>

/* The calling convention of every exported function: __stdcall on 32-bit Windows. */
#if defined(_WIN32)
#define WQ_CALL __stdcall
#else
#define WQ_CALL
#endif

#if defined(_WIN32)
#if defined(VUDADUV_BUILDING)
#define VUDADUV_API __declspec(dllexport)
#else
#define VUDADUV_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VUDADUV_API __attribute__((visibility("default")))
#else
#define VUDADUV_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An ordered list of NUL-terminated strings. items may be NULL when count is 0; a NULL
 * string inside the list reads as the empty string. */
typedef struct WQStringList {
    const char* const* items;
    uint32_t count;
} WQStringList;

/* An ordered list of unsigned 32-bit values. items may be NULL when count is 0. */
typedef struct WQValueList {
    const uint32_t* items;
    uint32_t count;
} WQValueList;

/* Request of WQTCPSend and WQTCPSendEn. */
typedef struct WQTCP {
    WQStringList targets; /* scale addresses; copied to the transport, not read */
    WQStringList lines;   /* the data lines, in the format of record_type */
    uint32_t record_type; /* 1 to 13, see the table above */
} WQTCP;

/* Request of WQTCPSendST and WQTCPSendSTEn, and both records that SendData takes. */
typedef struct WQST {
    WQStringList targets; /* scale addresses, for the transport */
    WQStringList lines;   /* request: the data lines; command record: the command lines */
    WQValueList values;   /* transport settings (see wqdatasend.h); never read here */
    uint32_t record_type; /* request: the record type; not set in records built for a transport */
} WQST;

/* Request of WQCOMMSend and WQCOMMSendEn, and both records that COMMSendData takes. */
typedef struct WQCOMM {
    uint32_t link;        /* the serial line, for the transport (see wqcommsend.h) */
    WQStringList lines;   /* request: the data lines; command record: the command lines */
    uint32_t record_type; /* request: the record type; not set in records built for a transport */
} WQCOMM;

/* Result codes of the six exports. Fixed values, never renumbered. */
#define WQ_OK 0 /* the commands were sent and the transport returned 0 */
#define WQ_NOTHING_TO_SEND                                                                    \
    -1                         /* no command line came out (or request was NULL); nothing was \
                                  sent and "Rec.txt" was not touched */
#define WQ_TRANSPORT_FAILED -2 /* the transport returned non-zero; "Rec.txt" was rewritten */
#define WQ_UPLOAD_FILE_FAILED                                      \
    -3 /* "Rec.txt" could not be written: a full disk, a directory \
          or file that may not be written, a file another program  \
          holds open (or memory ran out); it is left as it was */

/*
 * The six exports. Each takes a pointer to its request record, never changes it, and returns
 * one of the codes above. A NULL request returns -1 and calls nothing.
 *
 * The exports ending in En encode and decode texts as three-digit code-page text; the others
 * as four-digit zone-position text (text messages above number 10 for type 3, or above 16 for
 * type 5, always use code-page text).
 *
 * WQTCPSend, WQTCPSendEn: SendData(target record built from request->targets, command record).
 * WQTCPSendST, WQTCPSendSTEn: SendData(request itself, command record).
 * WQCOMMSend, WQCOMMSendEn: COMMSendData(request itself, command record with request->link).
 */
VUDADUV_API int32_t WQ_CALL WQTCPSend(const WQTCP* request);
VUDADUV_API int32_t WQ_CALL WQTCPSendEn(const WQTCP* request);
VUDADUV_API int32_t WQ_CALL WQTCPSendST(const WQST* request);
VUDADUV_API int32_t WQ_CALL WQTCPSendSTEn(const WQST* request);
VUDADUV_API int32_t WQ_CALL WQCOMMSend(const WQCOMM* request);
VUDADUV_API int32_t WQ_CALL WQCOMMSendEn(const WQCOMM* request);

#ifdef __cplusplus
}
#endif

#endif /* VUDADUV_H */
