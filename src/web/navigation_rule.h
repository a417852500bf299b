// Where the launcher's view may go. The view shows the launcher page and
// nothing else: every page call needs that document, and links leave for
// the player's browser through "xhref" instead.
#pragma once

#include <string_view>

namespace web {

// Whether a navigation may go on. Frames inside the page go anywhere. The
// top frame may go only to an http or https address on the launcher page's
// own host (a reload, the page's own redirects, an anchor of the page), and
// may run a "javascript:" address, which stays in the page. When
// `errorPageExpected` (the navigation to the launcher page has just failed
// and no page is shown), the top frame may also go to the control's own
// page for the failure ("res:" or "about:"), which the page-ready handshake
// then rejects with its box; a link on a page that loaded never goes there.
bool launcherNavigationAllowed(std::u16string_view pageAddress, std::u16string_view target, bool topFrame,
                               bool errorPageExpected);

}  // namespace web
