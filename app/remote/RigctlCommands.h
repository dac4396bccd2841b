// The commands the server answers, by their short and long names, each run on the receiver
// as RemoteReceiver sees it. Hamlib commands for what a receive-only VESTRA lacks (split,
// RIT, memories, tones, …) answer "not available"; a name Hamlib does not have, "bad value".
#pragma once

#include <string>
#include <string_view>

#include "app/remote/RigctlProtocol.h"

namespace rigctl {

class RemoteReceiver;

struct Outcome {
  std::string text;  // the bytes to send back
  bool quit = false;  // the client asked to close ("q")
};

// Runs one command line on `receiver` and formats its answer.
Outcome Execute(RemoteReceiver& receiver, const Request& request);

// What "\dump_state" answers: the receiver's capabilities in the lines that Hamlib's network
// client reads when it opens the connection.
std::string DumpState();

}  // namespace rigctl
