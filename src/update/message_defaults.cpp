#include "update/messages.h"

namespace update {

std::u16string englishDefault(std::int32_t id) {
  switch (id) {
    case 10: return u"Glimmerhold Updater";
    case 11: return u"It has not been possible to update the application. Please try again later.";
    case 12: return u"One of the update files could not be found. Please try again later.";
    case 13:
      return u"You don\u2019t have the required privileges to modify the system registry. "
             u"Please contact your System Administrator.";
    case 14: return u"There is a new version of the launcher available. The update process will start again.";
    case 15: return u"Download error code %i";
    case 16: return u"Invalid  Socket.";
    case 17: return u"The update server is not available. Please try again later.";
    case 18: return u"Connection error.";
    case 19: return u"Invalid response from the server.";
    case 20: return u"Installation error. Please, try installing the game again.";
    case 21: return u"Request timeout.";
    case 22: return u"Starting...";
    case 23: return u"End";
    case 24: return u"Play";
    case 25: return u"Downloading ";
    default: return u"";
  }
}

}  // namespace update
