// The scales of a fleet, listed in a file: one address a line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "args.h"
#include "vudaduv_fleet.h"
#include "vudaduv_transport.h"

namespace vudaduv::cli {

// Reads a scale address by the transport's one rule (ReadTargetAddress); false with a message
// naming the address and why it is refused: "bad address ':47001': no host".
bool ParseScaleAddress(const std::string& text, transport::TargetAddress& address,
                       std::string& error);

// The addresses of a send: those of --target first, as given, then those of the targets file in
// its order.
struct TargetList {
    std::vector<std::string> addresses;
    std::vector<std::string> names;   // of each address: the rest of its file line, "" for none
    std::vector<std::string> notes;   // addresses left out, as "FILE:LINE: ..." messages
    std::vector<std::string> places;  // where each address was given: "--target ", "FILE:LINE: "
    // The scale each address names, once KeepEachScaleOnce has identified them (each its own
    // then): handed to the sync, which need not resolve the names again.
    std::vector<fleet::ScaleOfAddress> scales;
};

// Adds the addresses in the bytes of the targets file source to list. Surrounding white space,
// blank lines and comments (from "#" to the end of the line) are no addresses. What follows an
// address on its line after white space is the scale's name ("10.1.12.31:4001  Store 12, deli
// counter"), kept for the lines and reports; the address stays the scale's identity. Every address
// must be read by the transport's one rule (ReadTargetAddress).
// False with a message naming SOURCE:LINE for a bad address, or the file for one without any.
bool AddTargetsFile(const std::string& source, const std::string& bytes, TargetList& list,
                    std::string& error);

// Leaves out, with a note, every address that names a scale already in the list, by the fleet's
// rule of scale identity (the same host and port, or a name that reaches an address and port of
// it): two connections at once to one scale would send it everything twice. Sets list.scales.
void KeepEachScaleOnce(TargetList& list);

// The options that name network scales and set the transport, for every command that sends to
// them.
constexpr OptionSpec kTargetOption{"target", true, true};
constexpr OptionSpec kTargetsFileOption{"targets-file", true, false};
constexpr OptionSpec kTimeoutOption{"timeout", true, false};
constexpr OptionSpec kRetriesOption{"retries", true, false};

// The settings of a network send: --timeout (the reply and the connect time-out) and
// --retries as given, everything else the transport's defaults. False with a message.
bool ReadTransportSettings(const ParsedArgs& parsed, transport::SendSettings& settings,
                           std::string& error);

// The addresses of --target and --targets-file, every one read as the network transport reads
// it before anything is sent; the notes of the file go to stderr. kExitOk, or the exit status
// after saying why not.
int LoadTargetList(const std::string& command, const ParsedArgs& parsed, TargetList& list);

}  // namespace vudaduv::cli
