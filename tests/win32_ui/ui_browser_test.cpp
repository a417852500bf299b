// The host window class and the OLE container, with what Wine's WebBrowser
// control can do without its HTML engine.
#include <windows.h>
#include <exdisp.h>
#include <mshtmhst.h>
#include <oleidl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/browser.h"
#include "platform/win32/ui/browser_host.h"
#include "platform/window.h"

namespace {

HWND hwndOf(platform::WindowHandle handle) { return reinterpret_cast<HWND>(handle); }
platform::WindowHandle handleOf(HWND window) { return reinterpret_cast<platform::WindowHandle>(window); }

// A top-level window standing in for the dialog.
class ParentWindow {
 public:
  ParentWindow()
      : window_(CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 640, 480, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr)) {}
  ~ParentWindow() {
    if (IsWindow(window_)) DestroyWindow(window_);
  }
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

class BrowserHost : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(platform::atlAxWinInit()); }
  void TearDown() override { platform::atlAxWinTerm(); }
};

TEST_F(BrowserHost, TheHostWindowIsAVisibleClippingChildOfTheGivenRectangle) {
  EXPECT_TRUE(platform::atlAxWinInit()) << "registering again is no failure";
  ParentWindow parent;
  ASSERT_NE(parent.get(), nullptr);
  HWND host = hwndOf(platform::createBrowserHostWindow(handleOf(parent.get()), platform::Rect{5, 6, 305, 206}));
  ASSERT_NE(host, nullptr);

  wchar_t className[32] = {};
  GetClassNameW(host, className, 32);
  EXPECT_EQ(std::wstring(className), L"AtlAxWin110");
  EXPECT_EQ(GetParent(host), parent.get());
  const LONG_PTR style = GetWindowLongPtrW(host, GWL_STYLE);
  const LONG_PTR wanted = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_EQ(GetWindowLongPtrW(host, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
  EXPECT_EQ(GetDlgCtrlID(host), 0);
  RECT rect{};
  GetWindowRect(host, &rect);
  MapWindowPoints(nullptr, parent.get(), reinterpret_cast<POINT*>(&rect), 2);
  EXPECT_EQ(rect.left, 5);
  EXPECT_EQ(rect.top, 6);
  EXPECT_EQ(rect.right, 305);
  EXPECT_EQ(rect.bottom, 206);

  // The launcher makes the host twice the page's size.
  ASSERT_TRUE(platform::resizeClient(handleOf(host), 1510, 1362));
  GetClientRect(host, &rect);
  EXPECT_EQ(rect.right, 1510);
  EXPECT_EQ(rect.bottom, 1362);
}

TEST_F(BrowserHost, WithoutTheClassRegisteredThereIsNoHostWindow) {
  platform::atlAxWinTerm();
  ParentWindow parent;
  EXPECT_EQ(platform::createBrowserHostWindow(handleOf(parent.get()), platform::Rect{0, 0, 10, 10}), nullptr);
  ASSERT_TRUE(platform::atlAxWinInit());
}

TEST_F(BrowserHost, AControlGoesOnlyIntoAHostWindow) {
  ParentWindow parent;
  std::unique_ptr<platform::WebBrowser2> browser;
  EXPECT_TRUE(FAILED(platform::createWebBrowser(handleOf(parent.get()), &browser)));
  EXPECT_EQ(browser, nullptr);
  EXPECT_TRUE(FAILED(platform::createWebBrowser(nullptr, &browser)));
  EXPECT_EQ(browser, nullptr);
}

// An unknown class cannot be created; the host stays usable and empty.
TEST_F(BrowserHost, AControlThatCannotBeMadeLeavesTheHostEmpty) {
  ParentWindow parent;
  HWND host = hwndOf(platform::createBrowserHostWindow(handleOf(parent.get()), platform::Rect{0, 0, 200, 100}));
  ASSERT_NE(host, nullptr);
  const CLSID nothing = {0x0badc0de, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  IUnknown* control = reinterpret_cast<IUnknown*>(1);
  EXPECT_TRUE(
      FAILED(platform::win32::createHostedControl(host, nothing, IID_IUnknown, reinterpret_cast<void**>(&control))));
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(GetWindow(host, GW_CHILD), nullptr);
  DestroyWindow(host);
}

// A host window in a parent, with the class registered for its lifetime.
class HostedControl : public BrowserHost {
 protected:
  void SetUp() override {
    BrowserHost::SetUp();
    host_ = hwndOf(platform::createBrowserHostWindow(handleOf(parent_.get()), platform::Rect{0, 0, 300, 200}));
    ASSERT_NE(host_, nullptr);
  }

  // The WebBrowser control is part of the system; where it is not
  // registered there is nothing to host.
  void skipWithoutControl(HRESULT result) {
    if (result == REGDB_E_CLASSNOTREG || result == CO_E_CLASSSTRING) {
      GTEST_SKIP() << "no WebBrowser control on this system";
    }
  }

  ParentWindow parent_;
  HWND host_ = nullptr;
};

RECT windowRectIn(HWND window, HWND parent) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

TEST_F(HostedControl, TheControlIsActiveInPlaceAndFollowsTheHostWindowsSize) {
  std::unique_ptr<platform::WebBrowser2> browser;
  const HRESULT result = platform::createWebBrowser(handleOf(host_), &browser);
  skipWithoutControl(result);
  ASSERT_EQ(result, S_OK);
  ASSERT_NE(browser, nullptr);

  // In place: the control's window is a child of the host, filling it.
  HWND view = GetWindow(host_, GW_CHILD);
  ASSERT_NE(view, nullptr);
  RECT rect = windowRectIn(view, host_);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, 300);
  EXPECT_EQ(rect.bottom, 200);

  ASSERT_TRUE(platform::resizeClient(handleOf(host_), 1600, 1200));
  rect = windowRectIn(view, host_);
  EXPECT_EQ(rect.right, 1600);
  EXPECT_EQ(rect.bottom, 1200);

  // The launcher changes nothing other programs read: no engine mode is
  // set for this program's file name.
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER,
                         L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl\\FEATURE_BROWSER_EMULATION",
                         L"win32_ui_tests.exe", RRF_RT_ANY, nullptr, nullptr, nullptr),
            ERROR_FILE_NOT_FOUND);

  // One control per host window.
  std::unique_ptr<platform::WebBrowser2> second;
  EXPECT_TRUE(FAILED(platform::createWebBrowser(handleOf(host_), &second)));
  EXPECT_EQ(second, nullptr);

  EXPECT_EQ(browser->navigate(u"about:blank"), S_OK);
  // Until a document exists (and here, without an HTML engine, it never
  // does) the document request fails and hands out nothing.
  std::shared_ptr<platform::HtmlDocument2> document2;
  std::shared_ptr<platform::HtmlDocument3> document3;
  if (FAILED(browser->document(&document2, &document3))) {
    EXPECT_EQ(document2, nullptr);
    EXPECT_EQ(document3, nullptr);
  } else {
    EXPECT_NE(document2, nullptr);
  }

  // The dialog's windows go before the Updater releases its browser: the
  // control is closed with its host and stays safe to call and release.
  DestroyWindow(host_);
  browser->navigate(u"about:blank");
  std::shared_ptr<platform::HtmlDocument2> late;
  EXPECT_TRUE(FAILED(browser->document(&late, nullptr)));
  EXPECT_EQ(late, nullptr);
  browser.reset();
}

TEST_F(HostedControl, TheSiteOffersTheContainerInterfacesUntilTheHostCloses) {
  CLSID webBrowser;
  ASSERT_EQ(CLSIDFromString(L"{8856F961-340A-11D0-A96B-00C04FD705A2}", &webBrowser), S_OK);
  IOleObject* raw = nullptr;
  const HRESULT result =
      platform::win32::createHostedControl(host_, webBrowser, IID_IOleObject, reinterpret_cast<void**>(&raw));
  skipWithoutControl(result);
  ASSERT_EQ(result, S_OK);
  platform::ComPtr<IOleObject> control(raw);

  platform::ComPtr<IOleClientSite> site;
  ASSERT_EQ(control->GetClientSite(site.put()), S_OK);
  ASSERT_TRUE(site);

  platform::ComPtr<IOleInPlaceSite> inPlace;
  ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(inPlace.put())), S_OK);
  HWND window = nullptr;
  EXPECT_EQ(inPlace->GetWindow(&window), S_OK);
  EXPECT_EQ(window, host_);

  platform::ComPtr<IDocHostUIHandler> ui;
  ASSERT_EQ(site->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(ui.put())), S_OK);
  DOCHOSTUIINFO info{};
  info.cbSize = sizeof(info);
  ASSERT_EQ(ui->GetHostInfo(&info), S_OK);
  EXPECT_NE(info.dwFlags & DOCHOSTUIFLAG_NO3DBORDER, 0u);
  EXPECT_NE(info.dwFlags & DOCHOSTUIFLAG_SCROLL_NO, 0u);

  // Script errors are answered by the site: go on running scripts, no box.
  platform::ComPtr<IOleCommandTarget> commands;
  ASSERT_EQ(site->QueryInterface(IID_IOleCommandTarget, reinterpret_cast<void**>(commands.put())), S_OK);
  const GUID docHost = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
  VARIANT answer;
  VariantInit(&answer);
  EXPECT_EQ(commands->Exec(&docHost, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, &answer), S_OK);
  EXPECT_EQ(answer.vt, VT_BOOL);
  EXPECT_EQ(answer.boolVal, VARIANT_TRUE);
  EXPECT_EQ(commands->Exec(nullptr, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);
  EXPECT_EQ(ui->ShowContextMenu(0, nullptr, nullptr, nullptr), S_OK) << "the engine's menu never shows";

  // The frame is the top-level window, handed out with the window context.
  platform::ComPtr<IOleInPlaceFrame> frame;
  platform::ComPtr<IOleInPlaceUIWindow> documentWindow;
  RECT position{};
  RECT clip{};
  OLEINPLACEFRAMEINFO frameInfo{};
  frameInfo.cb = sizeof(frameInfo);
  ASSERT_EQ(inPlace->GetWindowContext(frame.put(), documentWindow.put(), &position, &clip, &frameInfo), S_OK);
  EXPECT_EQ(frameInfo.hwndFrame, parent_.get());
  window = nullptr;
  EXPECT_EQ(frame->GetWindow(&window), S_OK);
  EXPECT_EQ(window, parent_.get());
  frame.reset();
  platform::ComPtr<IDispatch> notOffered;
  EXPECT_EQ(site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(notOffered.put())), E_NOINTERFACE);
  EXPECT_FALSE(notOffered);

  // Closing the host detaches the control from the site.
  site.reset();
  inPlace.reset();
  ui.reset();
  frame.reset();
  DestroyWindow(host_);
  platform::ComPtr<IOleClientSite> after;
  control->GetClientSite(after.put());
  EXPECT_FALSE(after);
}

}  // namespace
