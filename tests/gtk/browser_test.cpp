#include <gtest/gtest.h>

#include "gtk/gui_support.h"

namespace guitest {
namespace {

using platform::ComPtr;

TEST(Browser, DocumentExistsOnceTheLoadCommitsAndReachesComplete) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    platform::atlAxWinTerm();
    EXPECT_EQ(platform::createBrowserHostWindow(dialog.window(), platform::Rect{0, 0, 10, 10}), nullptr)
        << "no host windows without the host class";
    ASSERT_TRUE(platform::atlAxWinInit());
    page.host = platform::createBrowserHostWindow(dialog.window(), platform::Rect{0, 0, 755, 681});
    ASSERT_NE(page.host, nullptr);
    ASSERT_EQ(platform::createWebBrowser(page.host, &page.browser), S_OK);
    std::unique_ptr<platform::WebBrowser2> second;
    EXPECT_EQ(platform::createWebBrowser(page.host, &second), E_FAIL) << "one control per host";

    EXPECT_EQ(page.browser->document(&page.document2, &page.document3), E_FAIL) << "nothing loaded yet";
    EXPECT_EQ(page.browser->navigate(u""), E_INVALIDARG);
    ASSERT_EQ(page.browser->navigate(pageUrl("/page.html")), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return SUCCEEDED(page.browser->document(&page.document2, &page.document3)); }));
    ASSERT_NE(page.document2, nullptr);
    ASSERT_NE(page.document3, nullptr);
    std::u16string state;
    ASSERT_TRUE(pumpUntil([&] { return SUCCEEDED(page.document2->readyState(&state)) && state == u"complete"; }));
  });
}

std::u16string attributeText(platform::HtmlElement& element, const char16_t* name, VARTYPE* type) {
  VARIANT value;
  VariantInit(&value);
  if (FAILED(element.getAttribute(name, &value))) {
    *type = VT_EMPTY;
    return u"<failed>";
  }
  *type = value.vt;
  std::u16string text = value.vt == VT_BSTR ? platform::bstrText(value.bstrVal) : u"";
  VariantClear(&value);
  return text;
}

TEST(Browser, BodyAttributesAndElementsComeFromThePage) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    std::shared_ptr<platform::HtmlElement> body;
    ASSERT_EQ(page.document2->body(&body), S_OK);
    ASSERT_NE(body, nullptr);
    VARTYPE type = VT_EMPTY;
    EXPECT_EQ(attributeText(*body, u"xwidth", &type), u"800");
    EXPECT_EQ(type, VT_BSTR);
    EXPECT_EQ(attributeText(*body, u"xheight", &type), u"600");
    attributeText(*body, u"xdepth", &type);
    EXPECT_EQ(type, VT_NULL) << "an absent attribute is null, not empty text";

    std::shared_ptr<platform::HtmlElement> play;
    ASSERT_EQ(page.document3->elementById(u"boton-jugar", &play), S_OK);
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(attributeText(*play, u"id", &type), u"boton-jugar");
    std::shared_ptr<platform::HtmlElement> missing;
    EXPECT_EQ(page.document3->elementById(u"boton-nada", &missing), S_OK);
    EXPECT_EQ(missing, nullptr);

    std::shared_ptr<platform::HtmlElementCollection> anchors;
    ASSERT_EQ(page.document3->elementsByTagName(u"a", &anchors), S_OK);
    long count = 0;
    ASSERT_EQ(anchors->length(&count), S_OK);
    ASSERT_EQ(count, 3);
    const std::u16string expected[] = {u"http://example.test/a?x=1&y=2", u"", u""};
    const VARTYPE expectedType[] = {VT_BSTR, VT_NULL, VT_BSTR};
    for (int i = 0; i < 3; ++i) {
      std::shared_ptr<platform::HtmlElement> anchor;
      ASSERT_EQ(anchors->item(intVariant(i), intVariant(i), &anchor), S_OK);
      ASSERT_NE(anchor, nullptr) << i;
      EXPECT_EQ(attributeText(*anchor, u"xhref", &type), expected[i]) << i;
      EXPECT_EQ(type, expectedType[i]) << "anchor " << i;
    }
    std::shared_ptr<platform::HtmlElement> beyond;
    EXPECT_EQ(anchors->item(intVariant(3), intVariant(3), &beyond), S_OK);
    EXPECT_EQ(beyond, nullptr);
    EXPECT_EQ(anchors->item(intVariant(-1), intVariant(-1), &beyond), S_OK);
    EXPECT_EQ(beyond, nullptr);
  });
}

TEST(Browser, ScriptObjectFindsOnlyFunctionsAndKeepsTheirIds) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    ComPtr<IDispatch> script;
    ASSERT_EQ(page.document2->script(script.put()), S_OK);
    auto idOf = [&](std::u16string name, HRESULT* status) {
      LPOLESTR names[] = {name.data()};
      DISPID id = 12345;
      *status = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
      return id;
    };
    HRESULT status = E_FAIL;
    const DISPID echo = idOf(u"echo", &status);
    EXPECT_EQ(status, S_OK);
    EXPECT_NE(echo, DISPID_UNKNOWN);
    EXPECT_EQ(idOf(u"describe", &status), echo + 1);
    EXPECT_EQ(idOf(u"echo", &status), echo) << "ids are stable per name";
    EXPECT_EQ(idOf(u"noSuchFunction", &status), DISPID_UNKNOWN);
    EXPECT_EQ(status, DISP_E_UNKNOWNNAME);
    EXPECT_EQ(idOf(u"notAFunction", &status), DISPID_UNKNOWN) << "a variable is not a page function";

    // Nothing is cached: a function the page defines later is found.
    EXPECT_EQ(idOf(u"later", &status), DISPID_UNKNOWN);
    EXPECT_EQ(callPageText(*page.document2, u"defineLater"), u"<not a text>");
    EXPECT_NE(idOf(u"later", &status), DISPID_UNKNOWN);
    EXPECT_EQ(callPageText(*page.document2, u"later"), u"later");

    // A second script object of the same page answers with the same ids.
    ComPtr<IDispatch> again;
    ASSERT_EQ(page.document2->script(again.put()), S_OK);
    std::u16string name = u"echo";
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(again->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, echo);

    void* other = &id;
    const IID someInterface = {0x3050F1FF, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
    EXPECT_EQ(script->QueryInterface(someInterface, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(script->Invoke(echo + 100, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
  });
}

TEST(Browser, InvokeCarriesEachArgumentTypeAndResultType) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    platform::HtmlDocument2& document = *page.document2;
    VARIANT result;
    auto text = [&]() { return result.vt == VT_BSTR ? platform::bstrText(result.bstrVal) : u"<not a text>"; };

    // Quotes, backslashes, markup, a line break, a character outside the
    // basic plane and one of the upper half of the basic plane.
    const std::u16string tricky = u"a'b\"c\\d</script>\ne \U0001F600 \u00E9";
    EXPECT_EQ(callPage(document, u"describe", textVariant(tricky), &result), S_OK);
    EXPECT_EQ(text(), u"string:" + tricky);
    VariantClear(&result);
    EXPECT_EQ(callPage(document, u"describe", intVariant(42, VT_INT), &result), S_OK);
    EXPECT_EQ(text(), u"number:42");
    VariantClear(&result);
    EXPECT_EQ(callPage(document, u"describe", intVariant(-7, VT_I4), &result), S_OK);
    EXPECT_EQ(text(), u"number:-7");
    VariantClear(&result);
    EXPECT_EQ(callPage(document, u"describe", boolVariant(true), &result), S_OK);
    EXPECT_EQ(text(), u"boolean:true");
    VariantClear(&result);
    EXPECT_EQ(callPage(document, u"describe", boolVariant(false), &result), S_OK);
    EXPECT_EQ(text(), u"boolean:false");
    VariantClear(&result);

    EXPECT_EQ(callPage(document, u"echo", intVariant(65535), &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 65535);
    EXPECT_EQ(callPage(document, u"echo", boolVariant(true), &result), S_OK);
    EXPECT_EQ(result.vt, VT_BOOL);
    EXPECT_EQ(result.boolVal, VARIANT_TRUE);
    EXPECT_EQ(callPage(document, u"nothing", intVariant(1), &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY) << "undefined";
    EXPECT_EQ(callPage(document, u"makeObject", intVariant(1), &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY) << "an object has no automation form here";
    EXPECT_EQ(callPage(document, u"withNul", intVariant(1), &result), S_OK);
    EXPECT_EQ(text(), std::u16string(u"a\0b", 3)) << "a text is whole, not cut at a NUL";
    VariantClear(&result);
    EXPECT_EQ(callPage(document, u"alerting", intVariant(1), &result), S_OK);
    EXPECT_EQ(text(), u"after false") << "no engine dialog holds the page";
    VariantClear(&result);
    EXPECT_EQ(callPage(document, u"half", intVariant(1), &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY) << "a fraction is not cut to a whole number";

    // A throwing function: the call returns, reports it, and the page still
    // answers the next call.
    EXPECT_TRUE(FAILED(callPage(document, u"thrower", intVariant(1), &result)));
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(callPage(document, u"describe", textVariant(u"after"), &result), S_OK);
    EXPECT_EQ(text(), u"string:after");
    VariantClear(&result);
  });
}

TEST(Browser, ElementsOfAnEarlierDocumentFailAndReleaseTheirHandlers) {
  auto handler = RecordingHandler::make();
  std::shared_ptr<platform::HtmlDocument2> kept;
  runInDialog([&](TestDialog& dialog) {
    LoadedPage page;
    ASSERT_TRUE(loadPage(dialog, "/page.html", &page));
    std::shared_ptr<platform::HtmlElement> play;
    ASSERT_EQ(page.document3->elementById(u"boton-jugar", &play), S_OK);
    ASSERT_NE(play, nullptr);
    EXPECT_EQ(play->putOnMouseDown(handler->asVariant()), S_OK);
    EXPECT_EQ(handler->references(), 2u) << "the element keeps a reference";
    EXPECT_EQ(play->putOnMouseDown(handler->asVariant()), S_OK);
    EXPECT_EQ(handler->references(), 2u) << "binding again replaces, it does not pile up";
    VARIANT notAHandler = intVariant(3);
    EXPECT_EQ(play->putOnMouseDown(notAHandler), E_INVALIDARG);

    ASSERT_EQ(page.browser->navigate(pageUrl("/second.html")), S_OK);
    ASSERT_TRUE(pumpUntil([&] { return callPageText(*page.document2, u"whoAmI") == u"second"; }));
    EXPECT_EQ(handler->references(), 1u) << "the new document dropped the old document's handler";
    VARIANT value;
    EXPECT_EQ(play->getAttribute(u"id", &value), E_FAIL) << "the handle must not name an element of the new page";
    EXPECT_EQ(value.vt, VT_EMPTY);

    // Bound again in the new document, then the view goes with the dialog.
    std::shared_ptr<platform::HtmlElement> body;
    ASSERT_EQ(page.document2->body(&body), S_OK);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->putOnMouseDown(handler->asVariant()), S_OK);
    EXPECT_EQ(handler->references(), 2u);
    kept = page.document2;
  });
  EXPECT_EQ(handler->references(), 1u) << "the destroyed view let go of the handler";
  std::u16string state;
  EXPECT_EQ(kept->readyState(&state), E_FAIL) << "a document of a destroyed view fails, it does not crash";
  ComPtr<IDispatch> script;
  EXPECT_EQ(kept->script(script.put()), E_FAIL);
}

// A failed navigation still ends in a complete document (the browser's error
// page), which lacks the launcher page's functions: the launcher can tell the
// player instead of waiting for a page that never comes.
TEST(Browser, AFailedNavigationEndsInACompleteDocumentWithoutPageFunctions) {
  runInDialog([](TestDialog& dialog) {
    LoadedPage page;
    page.host = platform::createBrowserHostWindow(dialog.window(), platform::Rect{0, 0, 755, 681});
    ASSERT_EQ(platform::createWebBrowser(page.host, &page.browser), S_OK);
    ASSERT_EQ(page.browser->navigate(u"http://127.0.0.1:81/instalador.php?lang=en"), S_OK);  // nobody listens
    std::u16string state;
    ASSERT_TRUE(pumpUntil([&] {
      return SUCCEEDED(page.browser->document(&page.document2, &page.document3)) &&
             SUCCEEDED(page.document2->readyState(&state)) && state == u"complete";
    }));
    ComPtr<IDispatch> script;
    ASSERT_EQ(page.document2->script(script.put()), S_OK);
    std::u16string name = u"setVariableText";
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id);
    EXPECT_EQ(id, DISPID_UNKNOWN);
  });
}

}  // namespace
}  // namespace guitest
