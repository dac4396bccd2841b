#include "app/remote/RigctlProtocol.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace rigctl {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

// Prefixes that switch a line to the extended response mode; '\' starts a long name, '?' and
// '_' are commands of their own, '#' a comment.
bool IsExtendedPrefix(char c) { return c == '+' || c == ';' || c == '|' || c == ','; }

}  // namespace

std::optional<Request> ParseLine(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i == line.size() || line[i] == '#') return std::nullopt;
  Request r;
  if (IsExtendedPrefix(line[i])) {
    r.extended = true;
    r.separator = line[i] == '+' ? '\n' : line[i];
    ++i;
  }
  std::vector<std::string> words;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.emplace_back(line.substr(start, i - start));
  }
  if (words.empty()) {
    r.command.clear();  // a prefix alone: answered as an unknown command
    return r;
  }
  r.command = std::move(words.front());
  r.args.assign(std::make_move_iterator(words.begin() + 1), std::make_move_iterator(words.end()));
  return r;
}

std::string FormatReply(const Request& request, std::string_view longName, const Reply& reply) {
  std::string out;
  if (!request.extended) {
    if (reply.code != kOk || reply.values.empty()) return "RPRT " + std::to_string(reply.code) + "\n";
    for (const auto& [key, text] : reply.values) out += text + "\n";
    return out;
  }
  const char sep = request.separator;
  out += longName.empty() ? request.command : std::string(longName);
  out += ':';
  for (const auto& a : request.args) out += ' ' + a;
  out += sep;
  if (reply.code == kOk)
    for (const auto& [key, text] : reply.values) out += (key.empty() ? text : key + ": " + text) + sep;
  out += "RPRT " + std::to_string(reply.code);
  out += sep;
  if (sep != '\n') out += '\n';
  return out;
}

std::optional<double> ParseNumber(std::string_view text) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  // Decimal only: digits, one point, an optional sign and exponent.
  for (char c : text)
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return std::nullopt;
  double v = 0;
  const char* end = text.data() + text.size();
  const char* begin = text.data() + (text.front() == '+' ? 1 : 0);
  if (begin != text.data() && begin != end && *begin == '-') return std::nullopt;
  auto [p, ec] = std::from_chars(begin, end, v);
  if (ec != std::errc() || p != end || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<int> ParseInteger(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const char* end = text.data() + text.size();
  const char* begin = text.data() + (text.front() == '+' && text.size() > 1 ? 1 : 0);
  if (begin != text.data() && *begin == '-') return std::nullopt;
  int v = 0;
  auto [p, ec] = std::from_chars(begin, end, v);
  if (ec != std::errc() || p != end) return std::nullopt;
  return v;
}

}  // namespace rigctl
