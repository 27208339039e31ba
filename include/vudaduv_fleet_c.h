/*
 * vudaduv_fleet_c: many scales from C. Checks data lines, reads scales into scale images,
 * compares images, and brings a fleet of scales in step with one list (a sync), sending each
 * scale only the records it lacks or holds otherwise, reading back what was sent and keeping a
 * state directory that holds only what the scales confirmed.
 *
 * Shipped as libvudaduv_fleet.so.1 on Linux and VUDADUV_FLEET.dll on Windows, beside the library
 * of the six exports (vudaduv.h) and the transports it sends through.
 *
 * Sessions. Every call but VDFleetVersion and VDFleetCodeName works on a session that VDFleetOpen
 * makes from a VDFleetOptions record and VDFleetClose frees. A session holds the results of its
 * last call that makes results (a table of rows, read by VDFleetResultCount, VDFleetResultText
 * and VDFleetResultNumber; each such call replaces the table, a failing one empties it), and the
 * text of its last error (VDFleetLastError). Nothing the library returns is freed by the caller:
 * texts are copied into the caller's buffers. The library knows the sessions it has open: a
 * pointer that is no open session (one closed already, or never made) is VDFLEET_E_SESSION and
 * is never read, unless a later VDFleetOpen happened to make a session at the same address.
 *
 * Texts. Every text in (data lines, image texts, addresses, the state directory) and out (the
 * results, the last error) is a NUL-terminated byte string in the session's encoding: GBK (code
 * page 936, the scales' own) or UTF-8. A UTF-8 text that is not valid UTF-8 or holds a character
 * that GBK lacks is refused with VDFLEET_E_TEXT, except a data line of a check or a sync, which is
 * then a finding ("its line has no GBK form"; with VDFLEET_SYNC_ACCEPT_CHANGES its record is left
 * alone on every scale, neither sent nor removed, and the scale's cause text names it). Texts out
 * that hold bytes which are no GBK character show "?" for each in UTF-8.
 *
 * Copying a text out (VDFleetLastError, VDFleetResultText) works as snprintf does: the result is
 * the text's length in bytes without its NUL, whatever the buffer's size; at most size bytes are
 * written, the last of them a NUL, so a text is cut when the result is size or more. A text is
 * cut at a character boundary of the session's encoding (a GBK or UTF-8 character is never
 * halved), so the bytes before the NUL may be fewer than size - 1. A NULL buffer with size 0 asks
 * for the length alone.
 *
 * Results. Every function returns an int32_t: VDFLEET_OK (0), VDFLEET_SCALES (1, a read or sync
 * that was done but left some scale not as asked), or a negative VDFLEET_E_ code: `rc < 0` means
 * the call itself failed (the copying functions: a length, 0 or more, or a negative code). A NULL
 * session is VDFLEET_E_SESSION and touches nothing. No C++ exception leaves the library: memory
 * that runs out inside a call is VDFLEET_E_MEMORY. VDFleetCodeName names every code.
 *
 * Versions. From 1.1.0 (VDFleetVersion() >= 10100) a run in which some scales are not as asked
 * returns VDFLEET_SCALES (1), a positive code; 1.0 returned VDFLEET_E_SCALES (-7). A program that
 * may meet either library treats both alike; VDFLEET_VERSION is the version of this header.
 *
 * Progress and stopping. VDFleetReadScales and VDFleetSync tell a progress function, on the
 * calling thread inside the call, when each phase starts, as scales answer command lines and as
 * scales are done; a non-zero return from it stops the call as VDFleetCancel does. The counts
 * come at most about every 10 ms (besides each phase's start and the last count of a phase), not
 * once a line. VDFleetSetProgressEvents sets a function told each event as a record instead,
 * which names the scale that is done. A stopped call returns VDFLEET_E_STOPPED soon after
 * (within a few tens of milliseconds of the next look at the flag): no new command is started, a
 * sync keeps what the scales confirmed in its state and the next sync sends the rest.
 *
 * Thread safety. A session is used by one thread at a time; a second call on a session while one
 * runs (from another thread, or from inside its progress function) returns VDFLEET_E_BUSY and
 * changes nothing. VDFleetCancel and VDFleetLastError alone may be called from any thread at any
 * time while the session is open. Sessions share nothing: several may work at once on different
 * threads. Two syncs on one state directory, in one process or in two, do not overlap: the second
 * fails with VDFLEET_E_LOCKED and a text naming the process that holds it ("this process" when
 * it is the caller's own).
 *
 * Later versions may add fields at the end of VDFleetOptions, VDFleetSyncRequest and
 * VDFleetProgressEvent; each begins with its own size (set it to sizeof the record), so a program
 * built against this header keeps working with a later library, which reads only the fields that
 * the size covers. No record has padding at its end on 32-bit or 64-bit systems (a reserved field
 * fills it, to be 0), so that a later field never lands on bytes an older program left unset.
 */
#ifndef VUDADUV_FLEET_C_H
#define VUDADUV_FLEET_C_H

#include <stdint.h>

/* The calling convention of every exported function and of the progress function: __stdcall on
 * 32-bit Windows, as the six exports of vudaduv.h. */
#if defined(_WIN32)
#define VDFLEET_CALL __stdcall
#else
#define VDFLEET_CALL
#endif

#if defined(_WIN32)
#if defined(VUDADUV_FLEET_BUILDING)
#define VDFLEET_API __declspec(dllexport)
#else
#define VDFLEET_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define VDFLEET_API __attribute__((visibility("default")))
#else
#define VDFLEET_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of this header; VDFleetVersion() tells the library's, which may be later. */
#define VDFLEET_VERSION_MAJOR 1
#define VDFLEET_VERSION_MINOR 1
#define VDFLEET_VERSION_PATCH 0
#define VDFLEET_VERSION 10100 /* major * 10000 + minor * 100 + patch */

/* ---- Result codes (fixed values, never renumbered) ------------------------------------------ */

#define VDFLEET_OK 0
#define VDFLEET_SCALES                                                                      \
    1 /* done, but not every scale is as asked: see each scale's row (from 1.1.0; positive, \
         so that rc < 0 means the call itself failed) */
#define VDFLEET_E_ARGUMENT                                                                       \
    -1                       /* a NULL pointer where one is needed, a size too small, an unknown \
                                value, row or field, a field of another kind */
#define VDFLEET_E_SESSION -2 /* the session is NULL, closed, or none the library made */
#define VDFLEET_E_TEXT                                                  \
    -3 /* a text is no valid text of the session's encoding, has no GBK \
          form, or is no image text (the last error names the line) */
#define VDFLEET_E_FAILED                                                                    \
    -4 /* the work could not be done or not be finished, for none of the causes that have a \
          code of their own (the last error says why) */
#define VDFLEET_E_STOPPED -5 /* stopped by VDFleetCancel or the progress function */
#define VDFLEET_E_BUSY -6    /* another call is running on the session */
#define VDFLEET_E_SCALES \
    -7 /* 1.0's code for what is VDFLEET_SCALES from 1.1.0 on; never returned from 1.1.0 */
#define VDFLEET_E_FINDINGS                                                               \
    -8 /* a sync refused its list: some lines would not arrive on the scales as written; \
          nothing was sent, the state untouched; the rows are the findings               \
          (VDFLEET_LINE, VDFLEET_KEY, VDFLEET_FIELD, VDFLEET_WHAT) */
#define VDFLEET_E_LOCKED                                                                 \
    -9 /* another sync (in this process or another) holds the state directory: try again \
          later; the last error names the holder */
#define VDFLEET_E_STATE                                                                     \
    -10 /* the state directory cannot be read or written (the last error says why and names \
           the file) */
#define VDFLEET_E_MEMORY -11 /* memory ran out */

/* The name of a code, "VDFLEET_OK", "VDFLEET_SCALES", "VDFLEET_E_ARGUMENT", ...: a static text,
 * never NULL, "VDFLEET_UNKNOWN" for a code the library does not know. Any thread, no session. */
VDFLEET_API const char* VDFLEET_CALL VDFleetCodeName(int32_t code);

/* ---- Sessions ------------------------------------------------------------------------------- */

#define VDFLEET_TEXT_GBK 0
#define VDFLEET_TEXT_UTF8 1

/* What a session is made from. Zeros everywhere but size give a GBK session with the transport's
 * defaults and no state directory; VDFLEET_OPTIONS_INIT is such a record. */
typedef struct VDFleetOptions {
    uint32_t size;         /* sizeof(VDFleetOptions); smaller than this version's first
                              fields is VDFLEET_E_ARGUMENT */
    uint32_t text;         /* VDFLEET_TEXT_GBK or VDFLEET_TEXT_UTF8 */
    uint32_t en;           /* non-zero: the scales take code-page text (the En exports' mode) */
    uint32_t timeout_ms;   /* for a connection and for each reply; 0: 3000 */
    uint32_t tries;        /* connections tried per scale in all; 0: 3 */
    uint32_t port;         /* for addresses without one; 0: 4001 */
    const char* state_dir; /* where a sync keeps each scale's image; NULL or "" when the
                              session does not sync. Copied: the caller's text may go. On
                              Windows a text of the session's encoding, opened through the
                              system's wide file names (any name in a UTF-8 session; in a GBK
                              one, names GBK can write); elsewhere the path's bytes as the file
                              system takes them, never converted */
} VDFleetOptions;

#define VDFLEET_OPTIONS_INIT \
    { sizeof(VDFleetOptions), 0, 0, 0, 0, 0, 0 }

typedef struct VDFleetSession VDFleetSession;

/* The library's version as a number: major * 10000 + minor * 100 + patch (10000 for 1.0.0,
 * 10100 for 1.1.0; compare with VDFLEET_VERSION, the header's). */
VDFLEET_API int32_t VDFLEET_CALL VDFleetVersion(void);

/* Makes a session into *session. VDFLEET_E_ARGUMENT when options or session is NULL, when
 * options->size is too small or options->text unknown (*session is then set to NULL, when
 * session is not NULL); VDFLEET_E_TEXT when state_dir is no valid text (Windows);
 * VDFLEET_E_MEMORY when memory runs out. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetOpen(const VDFleetOptions* options,
                                             VDFleetSession** session);

/* Frees the session and everything it holds. NULL or a session closed already is
 * VDFLEET_E_SESSION; a session in a call is VDFLEET_E_BUSY and stays open. After it, every call
 * with the pointer is VDFLEET_E_SESSION. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetClose(VDFleetSession* session);

/* Copies the text of the session's last error: that of its last call that makes results or
 * that failed; "" when that call succeeded (the reading calls that succeed, VDFleetResultCount,
 * VDFleetResultText, VDFleetResultNumber and VDFleetSetProgress, leave it as it was). From any
 * thread: while another thread's call runs it answers what that call has set so far ("" from
 * the start of a call that makes results, until it fails). */
VDFLEET_API int32_t VDFLEET_CALL VDFleetLastError(VDFleetSession* session, char* buffer,
                                                  uint32_t size);

/* ---- Progress and stopping ------------------------------------------------------------------ */

#define VDFLEET_PHASE_READING 1         /* reading scales: a pull, or a sync's probe */
#define VDFLEET_PHASE_READING_IN_FULL 2 /* a sync reads in full the scales it cannot trust */
#define VDFLEET_PHASE_SENDING 3         /* a sync sends and reads back */

/* Told the phase, the command lines answered in it so far, and the lines it sends in all (0 when
 * not known beforehand: the reading of VDFleetReadScales): at each phase's start, then at most
 * about every 10 ms, and with a phase's last count. Non-zero stops the call. It must not call the
 * library with the same session (VDFLEET_E_BUSY). */
typedef int32_t(VDFLEET_CALL* VDFleetProgress)(void* user, uint32_t phase, uint32_t done,
                                               uint32_t total);

/* Sets the progress function (NULL for none) and the pointer it gets, for the session's later
 * calls. It replaces a function set by VDFleetSetProgressEvents. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetSetProgress(VDFleetSession* session,
                                                    VDFleetProgress progress, void* user);

#define VDFLEET_EVENT_PHASE 1      /* a phase starts: phase, total, scales */
#define VDFLEET_EVENT_LINES 2      /* lines were answered: done of total (at most every ~10 ms) */
#define VDFLEET_EVENT_SCALE_DONE 3 /* the scale of index scale is done with in this phase */

#define VDFLEET_NO_SCALE 0xFFFFFFFFu /* scale, for an event of no one scale */

/* One event of a call's progress (from 1.1.0). The library sets size to the bytes it filled:
 * read a field only when size covers it, as later versions may add fields at the end. */
typedef struct VDFleetProgressEvent {
    uint32_t size;        /* sizeof the record as the library filled it */
    uint32_t kind;        /* VDFLEET_EVENT_ value */
    uint32_t phase;       /* VDFLEET_PHASE_ value */
    uint32_t done;        /* command lines answered in the phase so far */
    uint32_t total;       /* lines the phase sends in all; 0 when not known beforehand */
    uint32_t scale;       /* VDFLEET_EVENT_SCALE_DONE: the index of the scale's address in the
                             call's addresses; else VDFLEET_NO_SCALE */
    uint32_t scales_done; /* scales done with in the phase so far */
    uint32_t scales;      /* scales the phase serves */
} VDFleetProgressEvent;

/* Told each event of a call; the record lives for the call of the function alone. Non-zero
 * stops the call. It must not call the library with the same session (VDFLEET_E_BUSY). */
typedef int32_t(VDFLEET_CALL* VDFleetProgressEvents)(void* user, const VDFleetProgressEvent* event);

/* Sets the event function (NULL for none) and the pointer it gets, for the session's later calls
 * (from 1.1.0). It replaces a function set by VDFleetSetProgress. Phase starts and the end of
 * every scale are each told; the counts of lines at most about every 10 ms and with a phase's
 * last count. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetSetProgressEvents(VDFleetSession* session,
                                                          VDFleetProgressEvents progress,
                                                          void* user);

/* Stops the call running on the session. A cancel while no call runs does nothing: the next
 * call is not stopped by it. Safe from any thread (not from a signal handler); a closed session
 * is VDFLEET_E_SESSION. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetCancel(VDFleetSession* session);

/* ---- Results -------------------------------------------------------------------------------- */

/* The fields of result rows. Each call below names the fields of its rows; a field is a text
 * (VDFleetResultText) or a number (VDFleetResultNumber), never both. */
#define VDFLEET_LINE 1       /* number: the index of the data line (a finding) */
#define VDFLEET_FIELD 2      /* text: the field of the record ("text 1", "item number", "line") */
#define VDFLEET_WHAT 3       /* text: what happens to it (a finding) */
#define VDFLEET_KEY 4        /* text: the record, "item 0042", "message 05", "key table" */
#define VDFLEET_TYPE 5       /* number: the record type of the record */
#define VDFLEET_NUMBER 6     /* number: its number, -1 for type 7 data and the key table */
#define VDFLEET_RECORD 7     /* text: the record as an image line ("1P0042A...") */
#define VDFLEET_ADDRESS 8    /* text: the scale's address as given */
#define VDFLEET_CODE 9       /* number: the transport's outcome, a WQDS_ code (wqdatasend.h) */
#define VDFLEET_CODE_NAME 10 /* text: its name, "WQDS_TIMEOUT" */
#define VDFLEET_CAUSE 11     /* text: why the scale is not as asked; "" when it is */
#define VDFLEET_IMAGE 12     /* text: the scale's image, one line a record, each LF-ended */
#define VDFLEET_RECORDS 13   /* number: the records of the image */
#define VDFLEET_KIND 14      /* number: VDFLEET_ADDED, VDFLEET_REMOVED or VDFLEET_CHANGED */
#define VDFLEET_BEFORE 15    /* text: the value (or line) in the first image; "" when added */
#define VDFLEET_AFTER 16     /* text: the value (or line) in the second image; "" when removed */
#define VDFLEET_STATUS 17    /* number: a VDFLEET_STATUS_ value */
#define VDFLEET_STATUS_NAME                                                                \
    18                      /* text: "in-step", "synced", "drift-repaired", "refused-cap", \
                               "failed", "interrupted", "planned" */
#define VDFLEET_PLANNED 19  /* number: records of the list it lacks or holds otherwise */
#define VDFLEET_REMOVALS 20 /* number: records planned to be emptied */
#define VDFLEET_WRITTEN 21  /* number: changes whose every write the scale answered */
#define VDFLEET_CONFIRMED                                                                   \
    22                       /* number: changes that came back as foreseen (the state keeps \
                                these alone) */
#define VDFLEET_PENDING 23   /* number: changes left for the next sync */
#define VDFLEET_UNCHANGED 24 /* number: records of the list it held already */
#define VDFLEET_PROBED 25    /* number: records and empty slots read back before the plan */
#define VDFLEET_DIFFERING 26 /* number: of those, the ones the scale held otherwise */

#define VDFLEET_ADDED 1
#define VDFLEET_REMOVED 2
#define VDFLEET_CHANGED 3

#define VDFLEET_STATUS_IN_STEP 0        /* it held the list already */
#define VDFLEET_STATUS_SYNCED 1         /* what differed was sent and confirmed */
#define VDFLEET_STATUS_DRIFT_REPAIRED 2 /* its probe differed from the state: read and repaired */
#define VDFLEET_STATUS_REFUSED_CAP 3    /* it would lose more records than allowed: untouched */
#define VDFLEET_STATUS_FAILED 4         /* unreachable, unreadable, or not all confirmed */
#define VDFLEET_STATUS_INTERRUPTED 5    /* the sync was stopped before it was done with it */
#define VDFLEET_STATUS_PLANNED 6        /* a dry run: its plan holds changes */

/* The rows of the session's last results into *count (0 before any). VDFLEET_E_ARGUMENT when
 * count is NULL. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetResultCount(VDFleetSession* session, uint32_t* count);

/* Copies a text field of a row (see the copying rule above). VDFLEET_E_ARGUMENT for a row past
 * the count, a field the row does not have or a number field, or a NULL buffer with a size. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetResultText(VDFleetSession* session, uint32_t row,
                                                   uint32_t field, char* buffer, uint32_t size);

/* A number field of a row into *value. VDFLEET_E_ARGUMENT as for VDFleetResultText, or when
 * value is NULL. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetResultNumber(VDFleetSession* session, uint32_t row,
                                                     uint32_t field, int64_t* value);

/* ---- Data lines and images ------------------------------------------------------------------ */

/* Checks data lines of a stored record type (1, 3, 5, 7, 10, 12; see vudaduv.h) the whole way a
 * download and its read-back go, in the session's mode, without a scale: the check VDFleetSync
 * and the tool's sync run. Rows: one a finding, in line order: VDFLEET_LINE, VDFLEET_KEY (the
 * record the line stores, "" for a line the library leaves out), VDFLEET_FIELD, VDFLEET_WHAT.
 * Findings: a number clamped, a text cut or changed, a line break in a text, a blank in the
 * fields, a line left out, a record that a later line stores again (field "line": "the same
 * record is stored again by line N", N an index), a line with no GBK form (field "line": "its
 * line has no GBK form"). No rows: every line comes back as written. One line never fails the
 * call. lines may be NULL when count is 0; a NULL line reads as "". VDFLEET_E_ARGUMENT for
 * another record type or NULL lines with a count. A C array of lines cannot be cut as a file
 * can: a file's last line without a line end is the reader's to find (the tool names it). */
VDFLEET_API int32_t VDFLEET_CALL VDFleetCheck(VDFleetSession* session, uint32_t record_type,
                                              const char* const* lines, uint32_t count);

/* Reads an image text (one upload line a record, LF or CR LF ended; blank lines and records that
 * hold nothing left out). Rows: one a record, in image order: VDFLEET_KEY, VDFLEET_TYPE,
 * VDFLEET_NUMBER, VDFLEET_RECORD. VDFLEET_E_TEXT for a line that is no record or names one twice
 * (the last error names the line). */
VDFLEET_API int32_t VDFLEET_CALL VDFleetReadImage(VDFleetSession* session, const char* image);

/* The records in which image b differs from image a, in record order. Rows: a record added or
 * removed is one row (VDFLEET_BEFORE and VDFLEET_AFTER hold the lines, VDFLEET_FIELD is ""), a
 * changed record one row a field that differs; each with VDFLEET_KIND, VDFLEET_KEY, VDFLEET_FIELD,
 * VDFLEET_BEFORE, VDFLEET_AFTER. VDFLEET_E_TEXT as for VDFleetReadImage. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetDiff(VDFleetSession* session, const char* image_a,
                                             const char* image_b);

/* ---- Scales --------------------------------------------------------------------------------- */

/* Addresses (VDFleetReadScales, VDFleetSync): "HOST", "HOST:PORT", "[V6]:PORT" or "[V6]", with the
 * session's port when none is given, each read by the transport's one rule before anything is
 * sent to any scale. The first one refused fails the call with VDFLEET_E_ARGUMENT, nothing sent
 * and no rows, and the last error names it, from 0, and why: address 2 ":47001": no host.
 * Refused: NULL, "", no host (":47001"), a port that is no number or not from 1 to 65535
 * ("127.0.0.1:99999", port 0), a number alone ("47001", no host), a host with a colon that is no
 * IPv6 address, a blank or control character in the host. A scale on a serial line is
 * "serial:DEVICE" or "serial:DEVICE@BAUD" ("serial:/dev/ttyUSB0", "serial:COM3@19200"; 9600 baud
 * unless given), served beside the network scales in the same call; refused: no device
 * ("serial:"), a speed the line does not take. A line held by another process fails its scale
 * with the cause "in use by another process"; the same device named twice is one scale. An
 * address with no GBK form is VDFLEET_E_TEXT. */

/* Reads every slot of the record types (NULL with type_count 0: 1, 3, 5, 7, 10 and 12), items
 * first_item to last_item, from every scale at once. Rows: one a scale, in the order of the
 * addresses: VDFLEET_ADDRESS, VDFLEET_CODE, VDFLEET_CODE_NAME, VDFLEET_CAUSE, VDFLEET_IMAGE
 * (the records that came back intact; "" when nothing of the scale is known), VDFLEET_RECORDS.
 * VDFLEET_SCALES when a scale failed or a record did not come back intact (its cause says
 * which); VDFLEET_E_ARGUMENT for a type that stores nothing (items beyond the
 * last one a scale keeps are not read). */
VDFLEET_API int32_t VDFLEET_CALL VDFleetReadScales(VDFleetSession* session,
                                                   const char* const* addresses, uint32_t count,
                                                   const uint32_t* types, uint32_t type_count,
                                                   int32_t first_item, int32_t last_item);

#define VDFLEET_CAP_PERCENT 0 /* at most cap_value per cent of what a scale holds, at least 1 */
#define VDFLEET_CAP_COUNT 1   /* at most cap_value records */
#define VDFLEET_CAP_ALL 2     /* any number */

#define VDFLEET_SYNC_REMOVE_MISSING 1u /* empty the records of the list's types it lacks */
#define VDFLEET_SYNC_DRY_RUN 2u        /* plan only: nothing sent, the state left alone */
#define VDFLEET_SYNC_READ_SCALES 4u    /* what the scales hold from a read, not the state */
#define VDFLEET_SYNC_NO_READ_BACK 8u   /* confirm by the write's answer, without reading back */
#define VDFLEET_SYNC_NO_PROBE                                        \
    16u /* read no record back before the plan: a scale with nothing \
           to change is not contacted, one that is off or was reset  \
           is not noticed */
#define VDFLEET_SYNC_ACCEPT_CHANGES                                               \
    32u /* send the list even though some lines would not arrive as written (as   \
           the tool's --accept-changes); lines that cannot be sent at all (no GBK \
           form, blanks in fields, a line the encoder refuses) are then left      \
           alone on the scales and named in the cause text */

/* What a sync brings the scales to: data lines of one stored record type, or, when image is not
 * NULL, the records of an image text (a restore: the scales get what the image holds, each line
 * sent as the record type of its prefix; record_type and lines are then not read). */
typedef struct VDFleetSyncRequest {
    uint32_t size; /* sizeof(VDFleetSyncRequest) */
    uint32_t record_type;
    const char* const* lines; /* NULL when line_count is 0; a NULL line reads as "" */
    uint32_t line_count;
    const char* image;
    const char* const* addresses;
    uint32_t address_count;
    uint32_t flags;     /* VDFLEET_SYNC_ values, or-ed */
    uint32_t cap_kind;  /* with VDFLEET_SYNC_REMOVE_MISSING: VDFLEET_CAP_ value */
    uint32_t cap_value; /* 0 with VDFLEET_CAP_PERCENT: 10 */
    uint32_t probe;     /* records of each scale's state read back first; 0: 8 */
    uint32_t reserved;  /* set it to 0 (from 1.1.0: it fills the record's end, padding on
                           64-bit systems in 1.0); not read by 1.1. A 1.0 caller's smaller
                           size, which ends before it, is taken as well */
} VDFleetSyncRequest;

/* A request with size set and everything else zero or NULL: fill in what the sync needs. */
#define VDFLEET_SYNC_REQUEST_INIT \
    { sizeof(VDFleetSyncRequest), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 }

/* Brings every scale to hold the list, all at once, with the session's state directory: each
 * scale gets only the records that differ from what its state (checked by a probe) says it holds,
 * reads them back, and its state takes in only what came back as foreseen. Rows: one a scale, in
 * the order of the addresses: VDFLEET_ADDRESS, VDFLEET_STATUS, VDFLEET_STATUS_NAME,
 * VDFLEET_PLANNED, VDFLEET_REMOVALS, VDFLEET_WRITTEN, VDFLEET_CONFIRMED, VDFLEET_PENDING,
 * VDFLEET_UNCHANGED, VDFLEET_PROBED, VDFLEET_DIFFERING, VDFLEET_CODE, VDFLEET_CODE_NAME,
 * VDFLEET_CAUSE.
 * First the list is checked as VDFleetCheck checks it (an image's records each as its type; a
 * finding's VDFLEET_LINE is then the index of the record in the image's order). When it finds
 * anything and flags lack VDFLEET_SYNC_ACCEPT_CHANGES, nothing is sent, no scale is contacted and
 * the state is untouched: VDFLEET_E_FINDINGS, and the rows are the findings (VDFLEET_LINE,
 * VDFLEET_KEY, VDFLEET_FIELD, VDFLEET_WHAT), not scales.
 * A scale that could not be reached or read keeps the figures its state foresees: VDFLEET_PLANNED
 * and VDFLEET_PENDING count the changes the next sync will send it (0 when its state knows
 * nothing of it).
 * VDFLEET_OK: every scale in step, synced, repaired or planned. VDFLEET_SCALES: a scale failed
 * or was refused for its removal cap. VDFLEET_E_STOPPED: stopped; the rows tell each scale.
 * VDFLEET_E_LOCKED: another sync holds the state directory, nothing was done. VDFLEET_E_STATE
 * without rows: the state directory cannot be used, nothing was done; with rows: the scales were
 * served but their state could not be written. VDFLEET_E_FAILED without rows: removals asked for
 * with a list that holds no record, nothing was done. VDFLEET_E_ARGUMENT: request NULL or too
 * small, a session without a state directory, no addresses, a record type that
 * stores nothing, an unknown cap kind. VDFLEET_E_TEXT: an address or image that cannot be read. */
VDFLEET_API int32_t VDFLEET_CALL VDFleetSync(VDFleetSession* session,
                                             const VDFleetSyncRequest* request);

#ifdef __cplusplus
}
#endif

#endif /* VUDADUV_FLEET_C_H */
