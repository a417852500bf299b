// The seam's document and element objects over the page's MSHTML interfaces.
#pragma once

#include <mshtml.h>

#include <memory>

#include "platform/automation.h"
#include "platform/browser.h"

namespace platform::win32 {

std::shared_ptr<HtmlElement> wrapElement(ComPtr<IHTMLElement> element);
std::shared_ptr<HtmlElementCollection> wrapCollection(ComPtr<IHTMLElementCollection> collection);
std::shared_ptr<HtmlDocument2> wrapDocument2(ComPtr<IHTMLDocument2> document);
std::shared_ptr<HtmlDocument3> wrapDocument3(ComPtr<IHTMLDocument3> document);

// Splits a document object into the two interfaces the launcher uses. Either
// stays null when the document does not offer it.
void wrapDocument(IDispatch* document, std::shared_ptr<HtmlDocument2>* document2,
                  std::shared_ptr<HtmlDocument3>* document3);

}  // namespace platform::win32
