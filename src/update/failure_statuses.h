// Every failure status a failed update can end with: its number, the
// message its box shows, and what it means, as README.md's table of them
// says it (a test keeps the two the same). The numbers come from the owners'
// enums -- the download job's (net::DownloadStatus), the run's (RunStatus),
// the signed updates' refusals (UpdateRefusal) -- and the socket layer's one
// stall number; any other socket error number is shown like an unlisted one.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace update {

struct FailureStatus {
  std::int32_t number;
  // The message id (update/messages.h) of the box's text: message 15,
  // "Download error code %i", shows the number itself.
  std::int32_t message;
  // README.md's line for it, in Markdown.
  std::string_view meaning;
};

// The table, in the order of the numbers.
std::span<const FailureStatus> failureStatuses();

// The message id of the box a failure with this status shows: the table's,
// and message 15 with the number for a status it does not list (a socket
// error number).
std::int32_t messageForStatus(std::int32_t status);

}  // namespace update
