#include "web/message_catalogue.h"

#include "shell/updater.h"

std::u16string messageText(std::int32_t id) {
  if (pageReady()) return activeUpdater->localization(id);
  return englishDefault(id);
}
