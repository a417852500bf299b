#include "update/failure_statuses.h"

#include "net/streaming_file.h"
#include "platform/sockets.h"
#include "update/list_signature.h"
#include "update/messages.h"
#include "update/update_run.h"

namespace update {

using net::DownloadStatus;

namespace {

// One line per status, as README.md's table has them.
// clang-format off
constexpr FailureStatus kFailureStatuses[] = {
    {statusCode(DownloadStatus::SocketFailed), kMsgInvalidSocket, R"(No socket could be created.)"},
    {statusCode(DownloadStatus::HostNotFound), kMsgServerUnavailable, R"(The update server's host name does not resolve (a port in the update base is part of the name: the port is always 80).)"},
    {statusCode(DownloadStatus::ConnectFailed), kMsgConnectionError, R"(The connection was refused or could not be made.)"},
    {statusCode(DownloadStatus::BadResponse), kMsgInvalidResponse, R"(The answer is not "200 OK", or its header block did not end within 64 KiB; or the version list holds text of which no line is an entry (a login page of a hotel or café network in its place).)"},
    {statusCode(DownloadStatus::BodyTruncated), kMsgDownloadErrorCode, R"(The server closed the connection before the announced "Content-Length: " had arrived.)"},
    {statusCode(DownloadStatus::BodyOverlong), kMsgDownloadErrorCode, R"(The server sent more than its "Content-Length: " announced.)"},
    {statusCode(DownloadStatus::LengthInvalid), kMsgDownloadErrorCode, R"(The announced "Content-Length: " is negative.)"},
    {statusCode(DownloadStatus::BodyTooLarge), kMsgDownloadErrorCode, R"(The body is too large: a version list over 128 MiB, or a file of 2 GiB or more.)"},
    {statusCode(DownloadStatus::OutOfMemory), kMsgDownloadErrorCode, R"(The memory for the version list could not be allocated.)"},
    {statusCode(DownloadStatus::DestinationFailed), kMsgDownloadErrorCode, R"(The file could not be created, written or put in place in the installation; also shown, before any file is fetched, when the installation cannot be written at all (a read-only medium, a folder of another user) and something has to be fetched.)"},
    {statusCode(DownloadStatus::LengthMissing), kMsgDownloadErrorCode, R"(The "Content-Length: " header was missing and the body was not exactly 32768 bytes, the only length such a body may have: serve the update folder with the header.)"},
    {statusCode(RunStatus::ListSaveFailed), kMsgDownloadErrorCode, R"(The record of a fetched file could not be written to "version_list.journal" in the installation (a read-only folder, a full disk), or, before any file was fetched, the journal a run that did not end left could not be folded into "version_list.txt"; the file just fetched is not recorded and is fetched again next time.)"},
    {statusCode(RunStatus::ListTooLarge), kMsgDownloadErrorCode, R"(The server's "version_list.txt" has more than 1,048,576 entries.)"},
    {statusCode(DownloadStatus::UrlRefused), kMsgDownloadErrorCode, R"(The update base holds a control character (below 0x20, or 0x7F), which a request line cannot carry even escaped, or its host part a blank or a byte of 0x80 and above; nothing was sent. (Blanks, "#", a "%" that starts no escape, and bytes of 0x80 and above in the path are percent-encoded and sent.))"},
    {statusCode(DownloadStatus::SizeMismatch), kMsgDownloadErrorCode, R"(The file that arrived is not the size the server's list gives it: a login page of a hotel or café network answered in its place, or a body without "Content-Length: " cut at 32768 bytes. The old file stays and nothing is recorded.)"},
    {statusCode(DownloadStatus::DigestMismatch), kMsgDownloadErrorCode, R"(Signed updates: a file's content is not the one the signed list names (changed on its way); the old file stays.)"},
    {statusCode(UpdateRefusal::SignatureMissing), kMsgDownloadErrorCode, R"(Signed updates: the server has no signature for its list ("version_list.sig" not answered with 200 OK).)"},
    {statusCode(UpdateRefusal::SignatureMalformed), kMsgDownloadErrorCode, R"(Signed updates: the signature file is empty, larger than 4 KiB, cut short or not the format, or a field (product, channel, epoch, release number from 1 to 999999999, expiry) is missing or out of its range.)"},
    {statusCode(UpdateRefusal::SignatureInvalid), kMsgDownloadErrorCode, R"(Signed updates: the signature does not verify with the launcher's key of its epoch: the list or a field was changed, another key signed it, or its epoch is later than any key the launcher has.)"},
    {statusCode(UpdateRefusal::ReleaseRolledBack), kMsgDownloadErrorCode, R"(Signed updates: a valid signature, but for an older release of the epoch installed.)"},
    {statusCode(UpdateRefusal::ReleaseNotRecorded), kMsgDownloadErrorCode, R"(Signed updates: the accepted release could not be recorded in the installation folder.)"},
    {statusCode(UpdateRefusal::OtherProductOrChannel), kMsgDownloadErrorCode, R"(Signed updates: a valid signature, but for another game or another channel (a beta list served to a stable launcher).)"},
    {statusCode(UpdateRefusal::KeyRetired), kMsgDownloadErrorCode, R"(Signed updates: signed with a retired key: an epoch earlier than one the installation has accepted, or than any key the launcher has.)"},
    {statusCode(UpdateRefusal::SignatureExpired), kMsgDownloadErrorCode, R"(Signed updates: a valid signature whose expiry has passed by this computer's clock.)"},
    {statusCode(RunStatus::WorkingFileBlocked), kMsgDownloadErrorCode, R"(A folder with something in it, or a file the launcher may not open, stands where the launcher keeps one of its own files ("version_list.txt", "version_list.txt.tmp", "version_list.journal", "Launcher.exe.tmp", "Launcher.exe.new", "download_in_progress.txt", "version_release.txt", "version_release.txt.tmp"), and something has to be fetched: nothing was; move it out of the installation. (An empty folder there is removed at start.))"},
    {platform::kWsaEtimedout, kMsgRequestTimeout, R"(Shown as "Request timeout." (message 21). The server stopped answering: no answer to the connection within 20 seconds, no byte of a response within 30 seconds, or less than 4 KiB of it in a minute (a server that drips a byte now and then would otherwise hold the player for days). A slow download that keeps moving at the pace of any real link never times out (a 56 kbit/s modem brings a hundred times that): the limits are per wait and per minute, not per file.)"},
};
// clang-format on

}  // namespace

std::span<const FailureStatus> failureStatuses() { return kFailureStatuses; }

std::int32_t messageForStatus(std::int32_t status) {
  for (const FailureStatus& known : failureStatuses()) {
    if (known.number == status) return known.message;
  }
  return kMsgDownloadErrorCode;
}

}  // namespace update
