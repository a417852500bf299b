// The launcher's Windows page objects, its handshake, page calls, element
// bindings and tick guard, run against the scripted document in the real
// dialog with its real timer.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/ui/page_objects.h"
#include "shell/updater.h"
#include "support/job_wait.h"
#include "support/registry_fixture.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "win32_ui/scripted_document.h"

using shell::kDialogEndValue;
using shell::PageTimer;
using shell::Updater;

namespace {

using scripted::Value;

// The control as the launcher sees it, with the scripted document loaded.
class ScriptedBrowser final : public platform::WebBrowser2 {
 public:
  explicit ScriptedBrowser(scripted::ScriptedPage& page) : page_(page) {}
  HRESULT navigate(std::u16string_view) override { return S_OK; }
  HRESULT document(std::shared_ptr<platform::HtmlDocument2>* document2,
                   std::shared_ptr<platform::HtmlDocument3>* document3) override {
    IDispatch* document = page_.document();
    platform::win32::wrapDocument(document, document2, document3);
    document->Release();
    return S_OK;
  }
  void setNavigationFilter(NavigationFilter) override {}

 private:
  scripted::ScriptedPage& page_;
};

// The launcher's dialog with the scripted document in place of the page the
// control would load.
class ScriptedUpdater : public Updater {
 public:
  explicit ScriptedUpdater(scripted::ScriptedPage& page) : page_(page) {}
  std::intptr_t processMessage(platform::DialogMessage message, std::uintptr_t argument) override {
    const std::intptr_t result = Updater::processMessage(message, argument);
    if (message == platform::DialogMessage::InitDialog) browser = std::make_unique<ScriptedBrowser>(page_);
    return result;
  }

 private:
  scripted::ScriptedPage& page_;
};

std::vector<std::wstring> functionsCalled(const scripted::ScriptedPage& page) {
  std::vector<std::wstring> names;
  for (const auto& call : page.calls) names.push_back(call.function);
  return names;
}

scripted::ScriptedPage* gPage = nullptr;
Updater* gUpdater = nullptr;

// Timer procedures: CALLBACK (__stdcall on 32-bit), which a lambda is not.
void CALLBACK pressClose(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (!gPage->mouseDown(L"boton-cerrar")) gUpdater->endDialog(-1);
}

void CALLBACK endRunGoneWrong(HWND, UINT, UINT_PTR, DWORD) { gUpdater->endDialog(-77); }

TEST(ScriptedDocument, TheLauncherRunsItsPageAndReleasesEveryReference) {
  testsupport::TempDir install;
  testsupport::CurrentDirGuard folder;
  // The dialog reads the installation from the registry, as at a real start.
  testsupport::RegistryFileEnv registry(install.path() / "settings.reg");
  testsupport::writeInstallationSettings(install.path() / "settings.reg", install.str());
  // The update server takes the list request and holds it for the test.
  testsupport::TestHttpServer server(testsupport::TestHttpServer::always(testsupport::HttpScript().holdOpen()));
  ASSERT_TRUE(server.listening());

  scripted::ScriptedPage page;
  page.add({L"", L"body", {{L"xwidth", L"640"}, {L"xheight", L"400"}}});
  page.add({L"boton-jugar", L"div", {}});
  page.add({L"boton-cerrar", L"div", {}});
  page.add({L"notes", L"a", {{L"xhref", L"https://example.invalid/notes"}}});
  page.add({L"", L"a", {}});
  for (const wchar_t* name : {L"setProgressBar", L"setButtonText", L"disablePlayButton"}) {
    page.functions[name] = [](const std::vector<Value>&) { return Value{}; };
  }
  page.throwing.insert(L"setProgressBar");  // a page error changes nothing
  page.functions[L"localization"] = [](const std::vector<Value>& arguments) {
    return arguments.size() == 1 && arguments[0] == Value{0L} ? Value{L"127.0.0.1/"} : Value{L"texto"};
  };
  // "Starting..." opens a nested message loop, as an alert() does, until the
  // dialog's timer has ticked inside it.
  int readsDuringLoop = -1;
  std::size_t callsDuringLoop = 0;
  page.functions[L"setVariableText"] = [&](const std::vector<Value>&) {
    const int reads = page.readyStateReads;
    const std::size_t calls = page.calls.size();
    const DWORD deadline = GetTickCount() + 5000;
    MSG message;
    bool ticked = false;
    while (!ticked && GetTickCount() < deadline) {
      if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        continue;
      }
      DispatchMessageW(&message);
      ticked = message.message == WM_TIMER && message.wParam == PageTimer;
    }
    if (ticked) readsDuringLoop = page.readyStateReads - reads;
    callsDuringLoop = page.calls.size() - calls;
    return Value{};
  };

  auto owned = std::make_unique<ScriptedUpdater>(page);
  ScriptedUpdater& updater = *owned;
  updater.updateRun.installPath = install.str();
  gPage = &page;
  gUpdater = &updater;
  // Once the page is up, the player presses Close; a watchdog ends a run
  // that goes wrong.
  const UINT_PTR closeTimer = SetTimer(nullptr, 0, 1500, pressClose);
  const UINT_PTR watchdog = SetTimer(nullptr, 0, 20000, endRunGoneWrong);
  EXPECT_EQ(updater.doModal(nullptr, 0), kDialogEndValue);
  KillTimer(nullptr, closeTimer);
  KillTimer(nullptr, watchdog);

  EXPECT_EQ(readsDuringLoop, 0) << "the tick inside the page call was dropped";
  EXPECT_EQ(callsDuringLoop, 0u);
  const std::vector<std::wstring> handshake{L"localization", L"setProgressBar", L"localization",     L"setVariableText",
                                            L"localization", L"setButtonText",  L"disablePlayButton"};
  const std::vector<std::wstring> called = functionsCalled(page);
  ASSERT_GE(called.size(), handshake.size());
  EXPECT_EQ(std::vector<std::wstring>(called.begin(), called.begin() + 7), handshake);
  EXPECT_EQ(page.calls[1].arguments, std::vector<Value>{0L});
  EXPECT_EQ(page.calls[3].arguments, std::vector<Value>{std::wstring(L"texto")});
  EXPECT_EQ(page.calls[6].arguments, std::vector<Value>{true});

  EXPECT_EQ(page.handlersHeld(), 3) << "Play, Close and the one link with an xhref";

  server.stop();
  ASSERT_NE(updater.updateRun.job, nullptr);
  ASSERT_TRUE(testsupport::jobEnded(*updater.updateRun.job));
  updater.updateRun.job.reset();
  // The dialog goes, and with it the links it kept for their handlers.
  owned.reset();
  page.unload();
  EXPECT_EQ(page.outstanding(), 0) << "still held: " << page.holders();
  EXPECT_EQ(page.faults(), std::vector<std::string>{});
  gPage = nullptr;
  gUpdater = nullptr;
}

// Points this program's import of `function` from `dll` at `replacement`;
// the previous target, or null when the program does not import it.
void* redirectImport(const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name != 0;
       ++module) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + module->Name), dll) != 0) continue;
    const DWORD namesAt = module->OriginalFirstThunk != 0 ? module->OriginalFirstThunk : module->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesAt);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* named = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) != 0) continue;
      DWORD protection = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) return nullptr;
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return previous;
    }
  }
  return nullptr;
}

using AllocFunction = BSTR(WINAPI*)(const OLECHAR*, UINT);
AllocFunction gRealAlloc = nullptr;
int gAllocationsRefused = 0;
bool gInsideDialog = false;

// The launcher's automation strings for the function name "setProgressBar"
// and for the text "sin memoria" cannot be had; every other one can. (The
// scripted page makes its strings with SysAllocString, not through this.)
BSTR WINAPI refusingAlloc(const OLECHAR* text, UINT length) {
  if (text != nullptr) {
    const std::wstring_view asked(text, length);
    if (asked == L"setProgressBar" || asked == L"sin memoria") {
      ++gAllocationsRefused;
      return nullptr;
    }
  }
  return gRealAlloc(text, length);
}

// The page bridge raises its out-of-memory error inside a tick: in the
// dialog's timer message, below user32's DispatchMessage, where an
// exception that escaped would end the process (on 32-bit Windows, the
// unwinder cannot pass the system's frames). The launcher drops the calls
// it cannot make, as failed page calls, and goes on.
TEST(ScriptedDocument, APageCallWithoutMemoryIsDroppedAndTheLauncherGoesOn) {
  testsupport::TempDir install;
  testsupport::CurrentDirGuard folder;
  testsupport::RegistryFileEnv registry(install.path() / "settings.reg");
  testsupport::writeInstallationSettings(install.path() / "settings.reg", install.str());
  testsupport::TestHttpServer server(testsupport::TestHttpServer::always(testsupport::HttpScript().holdOpen()));
  ASSERT_TRUE(server.listening());

  scripted::ScriptedPage page;
  page.add({L"", L"body", {{L"xwidth", L"640"}, {L"xheight", L"400"}}});
  page.add({L"boton-jugar", L"div", {}});
  page.add({L"boton-cerrar", L"div", {}});
  for (const wchar_t* name : {L"setVariableText", L"setProgressBar", L"setButtonText", L"disablePlayButton"}) {
    page.functions[name] = [](const std::vector<Value>&) { return Value{}; };
  }
  page.functions[L"localization"] = [](const std::vector<Value>& arguments) {
    return arguments.size() == 1 && arguments[0] == Value{0L} ? Value{L"127.0.0.1/"} : Value{L"sin memoria"};
  };

  auto owned = std::make_unique<ScriptedUpdater>(page);
  ScriptedUpdater& updater = *owned;
  updater.updateRun.installPath = install.str();
  gPage = &page;
  gUpdater = &updater;
  gAllocationsRefused = 0;
  gRealAlloc = reinterpret_cast<AllocFunction>(
      redirectImport("oleaut32.dll", "SysAllocStringLen", reinterpret_cast<void*>(refusingAlloc)));
  ASSERT_NE(gRealAlloc, nullptr) << "the launcher's automation strings come from SysAllocStringLen";
  // An end of the process inside the dialog is a failure, whatever its code.
  static const bool exitWatched = std::atexit([] {
                                    if (gInsideDialog) std::_Exit(99);
                                  }) == 0;
  ASSERT_TRUE(exitWatched);
  const UINT_PTR closeTimer = SetTimer(nullptr, 0, 1500, pressClose);
  const UINT_PTR watchdog = SetTimer(nullptr, 0, 20000, endRunGoneWrong);
  gInsideDialog = true;
  const std::intptr_t ended = updater.doModal(nullptr, 0);
  gInsideDialog = false;
  KillTimer(nullptr, closeTimer);
  KillTimer(nullptr, watchdog);
  redirectImport("oleaut32.dll", "SysAllocStringLen", reinterpret_cast<void*>(gRealAlloc));

  EXPECT_EQ(ended, kDialogEndValue) << "the player's Close ended the dialog";
  EXPECT_GE(gAllocationsRefused, 3) << "the name setProgressBar, then the status and the button texts";
  // What could not be made never reached the page; the rest did, in order,
  // and the update run started.
  const std::vector<std::wstring> handshake{L"localization", L"localization", L"localization", L"disablePlayButton"};
  const std::vector<std::wstring> called = functionsCalled(page);
  ASSERT_GE(called.size(), handshake.size());
  EXPECT_EQ(std::vector<std::wstring>(called.begin(), called.begin() + 4), handshake);
  EXPECT_EQ(page.handlersHeld(), 2) << "Play and Close were bound after the dropped calls";
  EXPECT_FALSE(server.requests().empty()) << "the update run asked for the list";

  server.stop();
  ASSERT_NE(updater.updateRun.job, nullptr);
  ASSERT_TRUE(testsupport::jobEnded(*updater.updateRun.job));
  updater.updateRun.job.reset();
  owned.reset();
  page.unload();
  EXPECT_EQ(page.outstanding(), 0) << "still held: " << page.holders();
  gPage = nullptr;
  gUpdater = nullptr;
}

// A launcher's message box, as another process sees it: its window and
// its text.
struct Box {
  HWND window = nullptr;
  std::wstring text;
};

struct BoxSearch {
  DWORD process;
  Box box;
};

// An EnumWindows procedure: CALLBACK, which a lambda is not on 32-bit.
BOOL CALLBACK findBox(HWND window, LPARAM data) {
  auto& found = *reinterpret_cast<BoxSearch*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[16] = L"";
  GetClassNameW(window, className, 16);
  // The launcher's own dialog is of the same class; a box has its text.
  if (owner != found.process || std::wstring(className) != L"#32770" || GetDlgItem(window, 0xFFFF) == nullptr) {
    return TRUE;
  }
  wchar_t text[256] = L"";
  GetDlgItemTextW(window, 0xFFFF, text, 256);  // the box's text
  found.box = {window, text};
  return FALSE;
}

Box boxOf(DWORD process) {
  BoxSearch search{process, {}};
  EnumWindows(findBox, reinterpret_cast<LPARAM>(&search));
  return search.box;
}

// A launcher started as the player starts it (the installation from the
// registry, no arguments), watched from here.
class StartedLauncher {
 public:
  explicit StartedLauncher(const std::wstring& program) {
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info_) == FALSE) {
      info_ = {};
    }
  }
  ~StartedLauncher() {
    if (info_.hProcess == nullptr) return;
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
  }
  StartedLauncher(const StartedLauncher&) = delete;
  StartedLauncher& operator=(const StartedLauncher&) = delete;

  bool started() const { return info_.hProcess != nullptr; }
  // Waits for the launcher's box (at most a minute, or until it ends).
  Box box() const {
    for (int i = 0; i < 1200; ++i) {
      Box found = boxOf(info_.dwProcessId);
      if (found.window != nullptr) return found;
      if (WaitForSingleObject(info_.hProcess, 50) == WAIT_OBJECT_0) break;
    }
    return {};
  }
  // Presses OK on its box and waits for the launcher to end: its exit code,
  // or -1 when it is still running after a minute.
  long answerAndWait(const Box& box) const {
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (WaitForSingleObject(info_.hProcess, 60000) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  PROCESS_INFORMATION info_{};
};

// Offline, the page host down, or (here, where Wine has no HTML engine) no
// page at all: the launcher must not stay hidden holding the installation.
// Once its page limit passes it shows the server box and ends, and the next
// start runs as the first did; while it waits, a second start is refused.
TEST(NoPage, TheLauncherGivesTheServerBoxEndsAndTheNextStartRuns) {
  testsupport::TempDir install;
  testsupport::RegistryFileEnv registry(install.path() / "settings.reg");
  testsupport::writeInstallationSettings(install.path() / "settings.reg", install.str());
  wchar_t self[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::wstring program(self, length);
  program = program.substr(0, program.find_last_of(L"\\/") + 1) + L"short_wait_launcher.exe";
  const std::wstring serverBox = L"The update server is not available. Please try again later.";

  StartedLauncher first(program);
  ASSERT_TRUE(first.started());
  const Box waited = first.box();
  ASSERT_NE(waited.window, nullptr) << "no box within a minute";
  EXPECT_EQ(waited.text, serverBox);
  {
    // The first still holds the installation while its box is up.
    StartedLauncher meanwhile(program);
    const Box refused = meanwhile.box();
    EXPECT_EQ(refused.text, L"The launcher is already running.");
    EXPECT_EQ(meanwhile.answerAndWait(refused), 0);
  }
  EXPECT_EQ(first.answerAndWait(waited), 0);
  // Its log, in the installation, says why it ended.
  const std::string log = testsupport::readFile(install.path() / "Launcher.log");
  EXPECT_NE(log.find("Z no page within 3 s"), std::string::npos) << log;
  EXPECT_EQ(log.find("Z end\n"), log.size() - 6) << log;

  StartedLauncher next(program);
  const Box again = next.box();
  EXPECT_EQ(again.text, serverBox) << "the installation was let go";
  EXPECT_EQ(next.answerAndWait(again), 0);
}

}  // namespace
