// send and check given a scale image without --type: each line goes as the record type of its
// prefix.
#pragma once

#include "args.h"
#include "commands.h"

namespace vudaduv::cli {

// True when the arguments name a --file and no --type: the file is a scale image.
bool TakesImage(const ParsedArgs& parsed);

// The image's records sent to every scale at once, after the check.
int SendImage(const ParsedArgs& parsed);
// The check of every line of the image, as its record type.
int CheckImage(const ParsedArgs& parsed);

}  // namespace vudaduv::cli
