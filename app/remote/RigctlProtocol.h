// The line protocol of Hamlib's network rig control (the one its "NET rigctl" client, model 2,
// speaks): one command a line, a short form (one letter) or a long one ("\set_freq"), the
// replies of the default protocol and of the extended response mode.
//
// Default protocol: a get answers its values one a line, a set answers "RPRT 0"; any error is
// "RPRT <negative code>". Extended response (the line starts with '+', ';', '|' or ','): the
// command's long name and its arguments are echoed first, then each value as "Key: value",
// then "RPRT <code>", every record ended by the separator ('\n' for '+', else the prefix
// itself, with the whole answer on one line that a '\n' ends).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rigctl {

// Hamlib's error codes, as sent on the wire.
constexpr int kOk = 0;
constexpr int kInvalid = -1;       // a bad value, a malformed or unknown command
constexpr int kNotAvailable = -11;  // what this receiver does not have

// One command line, split.
struct Request {
  bool extended = false;
  char separator = '\n';      // between the records of an extended answer
  std::string command;        // as typed: "F", "\set_freq"
  std::vector<std::string> args;
};

// Splits one line (its '\n' and any '\r' removed). Nothing for a line that carries no command:
// empty, blanks only, or a '#' comment.
std::optional<Request> ParseLine(std::string_view line);

// What a command gives back: values (a key, empty for raw lines, and a text) and a code.
struct Reply {
  std::vector<std::pair<std::string, std::string>> values;
  int code = kOk;

  static Reply Error(int code) { return {{}, code}; }
  static Reply Value(std::string key, std::string text) { return {{{std::move(key), std::move(text)}}, kOk}; }
};

// The bytes that answer `request`; `longName` is echoed in the extended mode.
std::string FormatReply(const Request& request, std::string_view longName, const Reply& reply);

// A decimal number as Hamlib's clients write it ("7100000", "7100000.000000", "0.25", "-5"),
// nothing for anything else (blanks, hex, "inf", "nan", trailing text).
std::optional<double> ParseNumber(std::string_view text);
// An integer, with no fraction and no exponent; nothing for anything else or out of int range.
std::optional<int> ParseInteger(std::string_view text);

}  // namespace rigctl
