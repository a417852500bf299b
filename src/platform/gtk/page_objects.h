// The page's document, elements, element collections and script object,
// answered by the page's own script through a BrowserView.
#pragma once

#include <memory>

#include "platform/browser.h"
#include "platform/gtk/browser_view.h"

namespace platform::gtk {

// Both interfaces of the view's current document; either out pointer may be null.
void makeDocument(const std::shared_ptr<BrowserView>& view, std::shared_ptr<HtmlDocument2>* document2,
                  std::shared_ptr<HtmlDocument3>* document3);

}  // namespace platform::gtk
