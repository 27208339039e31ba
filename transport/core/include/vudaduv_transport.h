/*
 * vudaduv_transport: the transport core in C++, for programs that want the scales' replies in
 * memory rather than in "Rec.txt". The exports of wqdatasend (SendData and its siblings) and
 * wqcommsend (COMMSendData) are thin wrappers over it.
 *
 * Network: SendToScales serves many scales at once, each with a command list of its own, over
 * one event loop on the calling thread (no thread per scale, no cap on their number), and hands
 * back every scale's reply lines and outcome. It writes no file.
 *
 * Serial: SendOverSerialLine sends one command list over a serial line that the caller opened
 * and returns the reply lines and the outcome.
 *
 * Lines: a command line is written whole, as it is (it carries its own CR LF); then exactly one
 * reply line is read (ended by LF, an optional CR before it; both are stripped). Bytes after a
 * reply's LF are kept for the next reply. An empty command line is left out: nothing is written
 * for it, no reply is awaited and it has no entry in the replies.
 *
 * Thread safety: every function may run on any thread; calls share no state. Callbacks run on
 * the calling thread, inside the call. A serial line must not be shared by two calls at once.
 *
 * Errors: every failure of a scale or a line is reported in its result code. Memory running out
 * is the one exception: SendToScales throws std::bad_alloc when it happens before the scales are
 * served (a scale that runs out later ends alone with WQDS_INTERNAL), SendOverSerialLine throws
 * it whenever it happens. Callers at a C boundary catch it.
 *
 * Link the static library wqtransport_core (CMake target of the same name).
 */
#ifndef VUDADUV_TRANSPORT_H
#define VUDADUV_TRANSPORT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wqcommsend.h"
#include "wqdatasend.h"

namespace vudaduv::transport {

/* ---- Settings of a network send ------------------------------------------------------------ */

// How a network send goes. SendData takes them from the target record's values (the WQDS_VALUE_
// slots of wqdatasend.h), where a missing slot or a 0 keeps these defaults.
struct SendSettings {
    std::uint32_t replyTimeoutMs = 3000;            // a command's write and its whole reply line
    std::uint32_t connectTimeoutMs = 3000;          // all the addresses of a host together
    std::uint64_t tries = 3;                        // the first try and the retries, per scale
    std::uint32_t defaultPort = WQDS_DEFAULT_PORT;  // for addresses without one; may be out of
                                                    // range: then addresses need a port
    std::uint64_t longestReply = 65536;             // bytes of a reply line, without CR LF
    std::uint32_t firstRetryPauseMs = 500;          // doubled for each further retry, at most 8000
};

/* ---- Scale addresses ------------------------------------------------------------------------ */

struct TargetAddress {
    std::string host;  // a name, an IPv4 address or an IPv6 address without brackets; "" for a
                       // serial line
    std::uint16_t port = 0;
    std::string device;      // a serial line's device ("/dev/ttyUSB0", "COM3"); "" for TCP
    std::uint32_t baud = 0;  // a serial line's speed in bits per second; 0 for TCP
};

// Whether the address names a scale on a serial line rather than on the network.
inline bool IsSerialLine(const TargetAddress& address) {
    return !address.device.empty();
}

// The speed of a serial line named without one ("serial:COM3"), and the one test of a speed:
// 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 or 230400. A line is always 8 data bits, no
// parity, one stop bit, no flow control (8N1).
constexpr std::uint32_t kDefaultSerialBaud = 9600;
bool SerialBaudSupported(std::uint32_t baud);

// Reads "host", "host:port", "[v6addr]:port" or "[v6addr]"; an IPv6 address without brackets
// (two or more colons) is taken whole. Addresses without a port get defaultPort. A scale on a
// serial line is "serial:DEVICE" or "serial:DEVICE@BAUD" (device set, host empty, port 0; baud
// kDefaultSerialBaud when not named; "serial:4001" stays the host "serial" on port 4001, as no
// device is a number alone). "" when the address is read; otherwise, with address left
// empty, why not in a few words, for a message that names the address (QuoteAddress): "empty",
// "no host" (":4001", "[]"), "no port after the colon", "the port \"4x\" is no decimal number",
// "port 99999 is out of range (1 to 65535)" (port 0 too), "no port (HOST:PORT)" (none given, and
// defaultPort out of range), "a number alone is no host (HOST:PORT)" ("4001", which the system
// would take as the host 0.0.15.161), "a host with a colon must be an IPv6 address ([V6]:PORT)",
// "a blank or control character in the host", "no ']' after the IPv6 address", "text after ']'
// that is no ':PORT'"; for a serial line "no device (serial:DEVICE[@BAUD])", "a blank or
// control character in the device", "no speed after the '@' (serial:DEVICE@BAUD)", "the speed
// \"fast\" is no decimal number", "speed 1000 is not supported (1200, 2400, 4800, 9600, 19200,
// 38400, 57600, 115200 or 230400)". This is the one rule every scale address is read by:
// SendToScales, SendData, the fleet and the tool.
std::string ReadTargetAddress(const std::string& text, std::uint32_t defaultPort,
                              TargetAddress& address);

// The same rule for an address to listen on, where port 0 (named or as defaultPort) asks the
// system for a free port; a serial line is refused ("a serial line is no address to listen on").
std::string ReadListenAddress(const std::string& text, std::uint32_t defaultPort,
                              TargetAddress& address);

// Whether ReadTargetAddress and ReadListenAddress read the address.
bool ParseTargetAddress(const std::string& text, std::uint32_t defaultPort, TargetAddress& address);
bool ParseListenAddress(const std::string& text, std::uint32_t defaultPort, TargetAddress& address);

// The address in double quotes for a message, a quote or backslash in it escaped with a
// backslash and a control byte written \xNN: "\":4001\"".
std::string QuoteAddress(const std::string& text);

// The addresses and ports the address reaches now, "127.0.0.1:4001" or "[::1]:4001": a numeric
// host as it is, a name as the system resolves it (blocking); none when the name does not
// resolve. For a serial line, the one device it opens (SerialLineIdentity).
std::vector<std::string> ResolveEndpoints(const TargetAddress& address);

// The one name of the device a serial line's address opens, so that two names of one line are
// known for one scale: on POSIX systems its real path, links followed ("/dev/serial/by-id/x" and
// "/dev/ttyUSB0" alike; the name as it is when there is no such file); on Windows "COMn" for
// "COMn", "comn" and "\\.\COMn" (any other device name in upper case).
std::string SerialLineIdentity(const std::string& device);

/* ---- Many scales over TCP ------------------------------------------------------------------- */

// The command lines of a send, in order, each with its CR LF. Shared, so that a thousand scales
// that get the same list hold it once.
using CommandList = std::shared_ptr<const std::vector<std::string>>;

// One scale of a send and what it gets.
struct ScaleJob {
    std::string address;   // as ParseTargetAddress reads it
    CommandList commands;  // nullptr reads as an empty list
};

// What became of one scale.
struct ScaleResult {
    std::int32_t code = WQDS_OK;       // a WQDS_ code, never WQDS_UPLOAD_FILE or WQDS_BAD_REQUEST
    std::vector<std::string> replies;  // one per answered command line, in command order,
                                       // without CR LF; kept when the scale fails later; none
                                       // when the observer takes them (replyTaken)
    std::size_t answered = 0;          // command lines answered, whoever keeps the replies
    std::uint32_t connections = 0;     // connections tried: 1 plus the retries used; 0 for a bad
                                       // address or a scale with nothing to send
    std::uint32_t milliseconds = 0;    // from the start of the call until this scale was done
    std::string cause;  // why the scale failed, in a few words: TransportCodeCause's, or closer
                        // for a serial line ("in use by another process", "no such device");
                        // "" for WQDS_OK
};

// Told, on the calling thread, while a send goes on. Any member may be empty. While one runs
// every scale waits: return soon, and do not start another send from inside. An exception thrown
// by either is swallowed: it never stops the send.
struct SendObserver {
    // A command line of the scale at index scale (its place in the jobs) got its reply; answered
    // is how many of its lines have been answered so far (replies.size()).
    std::function<void(std::size_t scale, std::size_t answered)> lineAnswered;
    // The scale at index scale is done; result is final (the reference is valid during the call
    // only). Called once per scale, in the order the scales finish.
    std::function<void(std::size_t scale, const ScaleResult& result)> scaleDone;
    // When set, each reply is handed to it as it comes, the line-th of the scale's replies (from
    // 0, in command order), instead of being kept in the result: a caller that needs only what
    // the replies say, or that thousands of scales answer alike, holds no copy of each. Unlike
    // the others, an exception it throws ends that scale with WQDS_INTERNAL (the reply is lost).
    std::function<void(std::size_t scale, std::size_t line, std::string&& reply)> replyTaken;
    // When not null, read before each command line and try starts, and every few tens of
    // milliseconds while the send goes on (it may be set from any thread, from a signal handler
    // or from lineAnswered or scaleDone): once true, no command line is started, every scale not
    // done yet ends within those tens of milliseconds with WQDS_INTERNAL and the replies it got so
    // far (scaleDone is told), and the call returns. A scale answers at most the one line it had
    // in flight when the flag was set.
    const std::atomic<bool>* stop = nullptr;
};

// Sends every scale its own command list, each over a connection of its own, all at once, and
// returns their results in the order of jobs. A refused connection, a time-out or a dropped
// connection is retried (pause, reconnect, resume from the command that got no reply, so each
// command is answered once) up to settings.tries tries per scale in all. A bad address, a reply
// over settings.longestReply or a failure of this machine is not retried. A failing scale never
// stops the others. A scale whose list holds no line to send is done at once with WQDS_OK (after
// its address is checked), without connecting. On POSIX systems the soft limit of open files is
// raised, as far as the hard limit allows, when it leaves too little room for one socket per
// scale; the call then holds no more connections at once than the limit leaves beside the
// descriptors open when it starts and 32 more for the rest of the process. The scales beyond wait
// their turn, in order, each taking the slot of a scale done (or between tries); a scale's
// time-outs start when its turn comes. A scale that finds no descriptor free all the same waits
// for a connection of the call's own to close, and fails with WQDS_INTERNAL only when the call
// holds none. Host names are resolved on a helper thread that lives as long as the call.
//
// A scale on a serial line ("serial:DEVICE@BAUD") is served in the same call, beside the network
// scales: its line is opened when its turn comes, once for the call, held by this process alone
// (another that tries it is refused; a line already held elsewhere fails with WQDS_REFUSED and
// the cause "in use by another process"), set raw, 8N1 at its speed, and given back with the
// settings it had when the scale is done. A device that is not there, or no serial line, fails
// with WQDS_BAD_ADDRESS. A reply that does not come within settings.replyTimeoutMs is asked for
// again on the same line (what came late is dropped), up to settings.tries tries; a line that
// hangs up (an adapter pulled out, a pseudo-terminal whose other side closed) fails at once with
// WQDS_CLOSED and the cause "the serial line hung up". The connect time-out has no part.
std::vector<ScaleResult> SendToScales(const std::vector<ScaleJob>& jobs,
                                      const SendSettings& settings,
                                      const SendObserver& observer = {});

/* ---- One serial line ------------------------------------------------------------------------ */

struct SerialResult {
    std::int32_t code = WQCS_OK;       // a WQCS_ code, never WQCS_UPLOAD_FILE
    std::vector<std::string> replies;  // one per answered command line, in command order
};

// Sends commands in order over the line link (a descriptor on POSIX systems, a HANDLE cut to 32
// bits on Windows; see wqcommsend.h for what the line must be), which is neither reconfigured nor
// closed. A reply that does not come within 3000 ms is asked for again by sending the command
// once more, twice at most; any other failure ends the send at once. WQCS_BAD_REQUEST when link
// is not a line open for reading and writing; with no line to send, WQCS_OK without touching the
// line.
SerialResult SendOverSerialLine(std::uint32_t link, const std::vector<std::string>& commands);

/* ---- Result codes ---------------------------------------------------------------------------- */

// The name of a result code, "WQDS_TIMEOUT" or, for the serial transport (serial true),
// "WQCS_TIMEOUT"; "unknown" for a number that is no code of that transport. Static strings.
const char* TransportCodeName(std::int32_t code, bool serial = false);

// What a result code says, in a few words ("timed out"); "unknown code" for any other number.
const char* TransportCodeCause(std::int32_t code);

// Why a scale was not served, the one phrasing of a transport failure that the tool, the fleet
// and the C library give: the code's cause, then how many of the command lines sent the scale
// answered and, when tries is not 0, the connections tried: "refused or unreachable (0 of 4001
// command line(s) answered, 2 tries)". "" for WQDS_OK (a scale served). cause, when not empty,
// stands for the code's cause: what the transport knew of this scale beyond its code ("in use by
// another process", a ScaleResult's cause).
std::string TransportFailure(std::int32_t code, std::size_t answered, std::size_t commands,
                             std::uint32_t tries = 0, const std::string& cause = {});

}  // namespace vudaduv::transport

#endif /* VUDADUV_TRANSPORT_H */
