#include "web/element_events.h"

#include <gtest/gtest.h>

#include <new>

#include "shell/updater.h"
#include "support/fake_ui.h"
#include "support/launcher_fixture.h"

using shell::Updater;
using web::CDOMEventHandler;

namespace {

struct Seen {
  int calls = 0;
  VARIANT* result = nullptr;
  void* userData = nullptr;
};
Seen seen;

void recordCall(VARIANT* result, void* userData) {
  ++seen.calls;
  seen.result = result;
  seen.userData = userData;
}

int destroyed = 0;
struct CountedHandler : CDOMEventHandler {
  using CDOMEventHandler::CDOMEventHandler;
  ~CountedHandler() override { ++destroyed; }
};

TEST(CDOMEventHandlerTest, AnswersOnlyForItsTwoInterfacesAndCountsReferences) {
  destroyed = 0;
  auto* handler = new CountedHandler(recordCall, nullptr);
  EXPECT_EQ(handler->AddRef(), 1u);

  void* out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(handler->QueryInterface(IID_IDispatch, &out), S_OK);
  EXPECT_EQ(out, static_cast<IDispatch*>(handler));
  EXPECT_EQ(handler->QueryInterface(IID_IUnknown, &out), S_OK);
  EXPECT_EQ(handler->refCount.load(), 3);

  const IID other = {0x3050F1FF, 0x98B5, 0x11CF, {0xBB, 0x82, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x0B}};
  out = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(handler->QueryInterface(other, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(handler->refCount.load(), 3);

  UINT count = 7;
  ITypeInfo* info = nullptr;
  EXPECT_EQ(handler->GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(handler->GetTypeInfo(0, 0, &info), E_NOTIMPL);
  EXPECT_EQ(handler->GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), S_OK);

  EXPECT_EQ(handler->Release(), 2u);
  EXPECT_EQ(handler->Release(), 1u);
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(handler->Release(), 0u);
  EXPECT_EQ(destroyed, 1);
}

TEST(CDOMEventHandlerTest, InvokeRunsTheCallbackForTheDefaultMemberOnly) {
  seen = {};
  int userData = 0;
  platform::ComPtr<IDispatch> handler(new CDOMEventHandler(recordCall, &userData));
  handler->AddRef();
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(handler->Invoke(5, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(seen.calls, 0);
  EXPECT_EQ(handler->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.result, &result);
  EXPECT_EQ(seen.userData, &userData);

  platform::ComPtr<IDispatch> empty(new CDOMEventHandler(nullptr, nullptr));
  empty->AddRef();
  EXPECT_EQ(empty->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), S_OK);

  // The engine's frames are below Invoke: what the callback throws stops
  // here, and the engine hears why the event was dropped.
  platform::ComPtr<IDispatch> noMemory(new CDOMEventHandler([](VARIANT*, void*) { throw std::bad_alloc(); }, nullptr));
  noMemory->AddRef();
  EXPECT_EQ(noMemory->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_OUTOFMEMORY);
  platform::ComPtr<IDispatch> failing(new CDOMEventHandler([](VARIANT*, void*) { throw 7; }, nullptr));
  failing->AddRef();
  EXPECT_EQ(failing->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_UNEXPECTED);
}

class BindingTest : public testsupport::LauncherTest {
 protected:
  void SetUp() override {
    LauncherTest::SetUp();
    seen = {};
    auto& page = testsupport::fakePage();
    page.elements = {
        {u"boton-jugar", u"div", {}, {}, 0},
        {u"", u"a", {{u"xhref", u"https://glimmerhold.example/news"}}, {}, 0},
        {u"", u"a", {{u"href", u"#"}}, {}, 0},
        {u"empty-link", u"a", {{u"xhref", u""}}, {}, 0},
    };
    std::unique_ptr<platform::WebBrowser2> browser;
    platform::createWebBrowser(nullptr, &browser);
    browser->document(&updater.document, &updater.document3);
  }
  Updater updater;
};

TEST_F(BindingTest, BindsByIdWithTheDialogAsUserData) {
  updater.bindElementMouseDown(u"boton-jugar", recordCall);
  updater.bindElementMouseDown(u"missing", recordCall);
  testsupport::fakePage().mouseDown(u"boton-jugar");
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.userData, &updater);
  EXPECT_EQ(testsupport::fakePage().element(u"boton-jugar")->handlersSet, 1);
}

TEST_F(BindingTest, ExternalLinksOpenTheirCurrentAddressWithTheDesktop) {
  updater.bindExternalLinks();
  auto& page = testsupport::fakePage();
  EXPECT_EQ(page.elements[1].handlersSet, 1);
  EXPECT_EQ(page.elements[2].handlersSet, 0) << "an anchor without xhref stays the page's";
  EXPECT_EQ(page.elements[3].handlersSet, 1) << "an empty xhref still gets a handler";

  // The element the handler carries is kept alive and read again when pressed.
  page.elements[1].attributes[u"xhref"] = u"https://glimmerhold.example/patch-notes";
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  page.elements[1].onMouseDown->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
  page.mouseDown(u"empty-link");
  page.elements[1].attributes.erase(u"xhref");
  page.elements[1].onMouseDown->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);

  // The empty address is not a link: it is dropped, not handed to the desktop.
  ASSERT_EQ(testsupport::openedLinks().size(), 1u);
  EXPECT_EQ(testsupport::openedLinks()[0], u"https://glimmerhold.example/patch-notes");
}

// The page comes over plain HTTP: only web and mail addresses may reach the
// desktop, which would run anything else as a program.
TEST_F(BindingTest, OnlyWebAndMailAddressesReachTheDesktop) {
  struct Row {
    std::u16string address;
    bool opened;
  };
  const Row rows[] = {
      {u"http://glimmerhold.example/", true},
      {u"HTTPS://glimmerhold.example/news?a=1", true},
      {u"MailTo:support@glimmerhold.example", true},
      {u"file:///C:/Windows/System32/calc.exe", false},
      {u"C:\\Windows\\System32\\calc.exe", false},
      {u"\\\\server\\share\\run.exe", false},
      {u"/usr/bin/xterm", false},
      {u"Glimmerhold.exe", false},
      {u"javascript:alert(1)", false},
      {u"ms-settings:", false},
      {u"http:/glimmerhold.example", false},
      {u" https://glimmerhold.example/", false},
      {u"https://glimmerhold.example/\nrun", false},
  };
  updater.bindExternalLinks();
  auto& page = testsupport::fakePage();
  for (const Row& row : rows) {
    testsupport::openedLinks().clear();
    page.elements[1].attributes[u"xhref"] = row.address;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    page.elements[1].onMouseDown->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    EXPECT_EQ(testsupport::openedLinks().size(), row.opened ? 1u : 0u) << testsupport::narrow(row.address);
  }
}

TEST_F(BindingTest, NothingIsBoundWithoutTheLookupInterface) {
  updater.document3.reset();
  updater.bindElementMouseDown(u"boton-jugar", recordCall);
  updater.bindExternalLinks();
  for (const auto& element : testsupport::fakePage().elements) EXPECT_EQ(element.handlersSet, 0);
}

}  // namespace
