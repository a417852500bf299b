// Every text the launcher shows is looked up by a message id: the page's
// translation once the page is ready, the English default before.
#pragma once

#include <cstdint>
#include <string>

// Message ids used by the launcher.
enum MessageId : std::int32_t {
  kMsgUpdateBase = 0,
  kMsgCaption = 10,
  kMsgNewLauncher = 14,
  kMsgDownloadErrorCode = 15,
  kMsgInvalidSocket = 16,
  kMsgServerUnavailable = 17,
  kMsgConnectionError = 18,
  kMsgInvalidResponse = 19,
  kMsgNotInstalled = 20,
  kMsgStarting = 22,
  kMsgEnd = 23,
  kMsgPlay = 24,
  kMsgDownloading = 25,
};

// The English text of a message id; the empty text for ids without one.
std::u16string englishDefault(std::int32_t id);
