// Every text the launcher shows is looked up by a message id: the page's
// translation once the page is ready, the English default before.
#pragma once

#include <cstdint>
#include <string>

namespace update {

// Message ids used by the launcher: the numbers the page's "localization"
// answers for.
constexpr std::int32_t kMsgUpdateBase = 0;
constexpr std::int32_t kMsgCaption = 10;
constexpr std::int32_t kMsgNewLauncher = 14;
constexpr std::int32_t kMsgDownloadErrorCode = 15;
constexpr std::int32_t kMsgInvalidSocket = 16;
constexpr std::int32_t kMsgServerUnavailable = 17;
constexpr std::int32_t kMsgConnectionError = 18;
constexpr std::int32_t kMsgInvalidResponse = 19;
constexpr std::int32_t kMsgNotInstalled = 20;
constexpr std::int32_t kMsgRequestTimeout = 21;
constexpr std::int32_t kMsgStarting = 22;
constexpr std::int32_t kMsgEnd = 23;
constexpr std::int32_t kMsgPlay = 24;
constexpr std::int32_t kMsgDownloading = 25;

// The English text of a message id; the empty text for ids without one.
std::u16string englishDefault(std::int32_t id);

}  // namespace update
