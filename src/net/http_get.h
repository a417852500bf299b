// The worker's whole exchange: one HTTP/1.0 GET of the job's url from port
// 80, its body stored in the job's destination, its outcome left in the job.
#pragma once

#include <string>
#include <string_view>

namespace net {

class cStreamingFile;

// Runs on the job's worker thread. Ends with `done` set or a failure code in
// `status`, the socket closed and a side file never left behind.
void runHttpGet(cStreamingFile& job);

// What the exchange sends for `url` ("host/path", no scheme), byte for
// byte: the request line in absolute form, HTTP/1.0, and the launcher's
// headers. Public so that a check of an update server sends exactly it.
std::string httpRequestText(const std::string& url);

// False when the url holds what no request line carries (a control
// character; a blank or a byte of 0x80 and above in the host): the exchange
// then sends nothing.
bool isSendableUrl(std::string_view url);

}  // namespace net
