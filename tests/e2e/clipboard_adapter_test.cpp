// The core's two clipboard operations against Wine's real clipboard, with another program (a
// child process, and a window on another thread) holding it or putting formats there.
//
//   clipboard_adapter_test.exe            runs the checks
//   clipboard_adapter_test.exe hold H R   (child) opens the clipboard with its own window, sets
//                                         event H, keeps it open until event R is set
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "clipboard.h"
#include "clipboard_check.h"
#include "harness.h"

namespace {

// A 1x1 24-bit picture: a clipboard with it and no text holds no text at all.
std::string OnePixelDib() {
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = 1;
  header.biHeight = 1;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  std::string bytes(reinterpret_cast<const char*>(&header), sizeof header);
  bytes.append("\x10\x20\x30\x00", 4);  // one pixel, padded to four bytes
  return bytes;
}

// Every double-byte pair of GBK's lead range with every trail byte, then the marker and ASCII:
// nothing on the way may convert, drop or reorder a byte.
std::string AllDoubleBytePairs() {
  std::string text;
  for (int lead = 0x81; lead <= 0xFE; ++lead)
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      text.push_back(static_cast<char>(lead));
      text.push_back(static_cast<char>(trail));
    }
  return text + std::string(AutoSendMarker) + "plain ASCII\r\n";
}

// ---- Holders: another program with the clipboard open -------------------------------------------

int HoldAsChild(const char* heldName, const char* releaseName) {
  HANDLE held = OpenEventA(EVENT_MODIFY_STATE, FALSE, heldName);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, releaseName);
  if (!held || !release) return 2;
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "OrvaneE2EHolder";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, wc.lpszClassName, "holder", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, wc.hInstance, nullptr);
  const DWORD start = GetTickCount();
  while (!OpenClipboard(window)) {
    if (GetTickCount() - start > Scaled(5000)) return 3;
    Sleep(5);
  }
  SetEvent(held);
  // Pumping, as a live program does while it has the clipboard open.
  while (MsgWaitForMultipleObjects(1, &release, FALSE, Scaled(30000), QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  CloseClipboard();
  return 0;
}

struct Holder {
  virtual ~Holder() = default;
  virtual bool Open() = 0;
  virtual void Close() = 0;
};

class ChildProcessHolder : public Holder {
 public:
  bool Open() override {
    const std::string tag = Format("%lu", GetCurrentProcessId());
    const std::string heldName = "OrvaneE2EHeld" + tag, releaseName = "OrvaneE2ERelease" + tag;
    held_ = CreateEventA(nullptr, TRUE, FALSE, heldName.c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string commandLine = Format("\"%s\" hold %s %s", self, heldName.c_str(), releaseName.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_))
      return false;
    HANDLE waits[] = {held_, process_.hProcess};
    return WaitForMultipleObjects(2, waits, FALSE, Scaled(15000)) == WAIT_OBJECT_0;
  }
  void Close() override {
    SetEvent(release_);
    if (process_.hProcess) {
      WaitForSingleObject(process_.hProcess, Scaled(10000));
      CloseHandle(process_.hProcess);
      CloseHandle(process_.hThread);
    }
    CloseHandle(held_);
    CloseHandle(release_);
  }

 private:
  HANDLE held_ = nullptr, release_ = nullptr;
  PROCESS_INFORMATION process_{};
};

class ThreadWindowHolder : public Holder {
 public:
  explicit ThreadWindowHolder(ClipboardAgent& agent) : agent_(agent) {}
  bool Open() override { return agent_.Hold(); }
  void Close() override { agent_.Release(); }

 private:
  ClipboardAgent& agent_;
};

void CheckHeldClipboard(ClipboardAgent& agent) {
  ChildProcessHolder child;
  ThreadWindowHolder thread(agent);
  struct Case {
    const char* name;
    Holder* holder;
  } cases[] = {{"another process's window", &child}, {"a window on another thread", &thread}};
  const std::string before = "before \xC4\xE3\xBA\xC3";
  for (const Case& c : cases) {
    agent.PutText(before);
    if (!Check(c.holder->Open(), Format("%s opens the clipboard", c.name))) {
      c.holder->Close();
      continue;
    }
    Text text = "stale";
    const bool read = ReadClipboardText(text);
    const bool replaced = ReplaceClipboardText("after");
    c.holder->Close();
    Check(!read && text.empty(), Format("held by %s: read fails with an empty text", c.name),
          Format("read %d, text %s", read, Escaped(text).c_str()));
    const ClipSnapshot after = agent.Read();
    Check(!replaced && after.text == before,
          Format("held by %s: replace fails and leaves the clipboard as it was", c.name),
          Format("replace %d, clipboard %s", replaced, Escaped(after.text).c_str()));
    text.clear();
    Check(ReadClipboardText(text) && text == before, Format("released by %s: read works again", c.name),
          Escaped(text));
  }
}

// ---- Contents -----------------------------------------------------------------------------------

void CheckNoText(ClipboardAgent& agent) {
  const UINT privateFormat = PrivateClipboardFormat();
  struct Case {
    const char* name;
    std::vector<ClipItem> items;
  } cases[] = {
      {"an empty clipboard", {}},
      {"a picture alone", {{CF_DIB, OnePixelDib()}}},
      {"a private format alone", {{privateFormat, "private bytes"}}},
  };
  for (const Case& c : cases) {
    const bool put = agent.Put(c.items);
    const bool noText = !IsClipboardFormatAvailable(CF_TEXT);
    Text text = "stale";
    const bool read = ReadClipboardText(text);
    Check(put && noText && read && text.empty(), Format("%s reads as an empty text", c.name),
          Format("put %d, CF_TEXT absent %d, read %d, text %s", put, noText, read,
                 Escaped(text).c_str()));
  }
}

void CheckReplaceDropsOtherFormats(ClipboardAgent& agent) {
  const UINT privateFormat = PrivateClipboardFormat();
  const std::string marked = "\xC4\xE3\xBA\xC3" + std::string(AutoSendMarker) + "!";
  agent.Put({{CF_TEXT, marked}, {privateFormat, "private bytes"}, {CF_DIB, OnePixelDib()}});
  const int before = CountClipboardFormats();
  Text text;
  Check(ReadClipboardText(text) && text == marked, "a text beside other formats is read whole",
        Format("%s with %d formats", Escaped(text).c_str(), before));

  const std::string reply = "\xBA\xC3\xB5\xC4" "ok";  // 好的ok
  const bool replaced = ReplaceClipboardText(reply);
  const ClipSnapshot after = agent.Read();
  const bool othersGone = !IsClipboardFormatAvailable(privateFormat) &&
                          !IsClipboardFormatAvailable(CF_DIB) && !IsClipboardFormatAvailable(CF_BITMAP);
  Check(replaced && after.text == reply && othersGone && OnlyTextFormats(after),
        "replace leaves the new text as the clipboard's only content",
        Format("replace %d, text %s, formats %s (%d, were %d), others gone %d", replaced,
               Escaped(after.text).c_str(), FormatsText(after.formats).c_str(), after.count, before,
               othersGone));
  Check(after.textBlockSize == reply.size() + 1, "the written block is the text and one zero byte",
        Format("block of %lu bytes for %lu", static_cast<unsigned long>(after.textBlockSize),
               static_cast<unsigned long>(reply.size())));
}

void CheckEmptyText(ClipboardAgent& agent) {
  agent.PutText("something");
  const bool replaced = ReplaceClipboardText("");
  const ClipSnapshot after = agent.Read();
  Check(replaced && after.hasText && after.text.empty() && after.textBlockSize == 1 &&
            OnlyTextFormats(after),
        "an empty text written gives an empty CF_TEXT of one zero byte",
        Format("replace %d, has text %d, text %s, block %lu, formats %s", replaced, after.hasText,
               Escaped(after.text).c_str(), static_cast<unsigned long>(after.textBlockSize),
               FormatsText(after.formats).c_str()));
  Text text = "stale";
  Check(ReadClipboardText(text) && text.empty(), "and reads back as the empty text", Escaped(text));
}

void CheckRoundTrips(ClipboardAgent& agent) {
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"the marker between GBK words", "\xC4\xE3\xBA\xC3" + std::string(AutoSendMarker) + "\xD0\xBB\xD0\xBB"},
      {"every double-byte pair", AllDoubleBytePairs()},
      {"a lone lead byte at the end", "abc\x81"},
      {"a lone lead byte before the marker", "\x81" + std::string(AutoSendMarker)},
      {"a 200000-byte text", std::string(100000, '\xB0') + std::string(100000, 'a')},
  };
  for (const Case& c : cases) {
    // The core writes, another program reads ...
    const bool replaced = ReplaceClipboardText(c.text);
    const ClipSnapshot seen = agent.Read();
    Check(replaced && seen.text == c.text, Format("%s: written bytes reach another program exactly", c.name),
          Format("replace %d, %lu bytes seen of %lu", replaced,
                 static_cast<unsigned long>(seen.text.size()), static_cast<unsigned long>(c.text.size())));
    // ... and the other way round.
    agent.PutText(c.text);
    Text text;
    const bool read = ReadClipboardText(text);
    Check(read && text == c.text, Format("%s: another program's bytes are read exactly", c.name),
          Format("read %d, %lu bytes of %lu", read, static_cast<unsigned long>(text.size()),
                 static_cast<unsigned long>(c.text.size())));
  }
}

// A block without a terminating zero can't be made here: Wine's SetClipboardData writes a zero
// over the last byte of every CF_TEXT block.
void CheckZeroInside(ClipboardAgent& agent) {
  agent.Put({{CF_TEXT, std::string("abc\0def", 7)}});
  Text text;
  const bool read = ReadClipboardText(text);
  Check(read && text == "abc", "a zero byte inside the text ends it",
        Format("read %d, text %s", read, Escaped(text).c_str()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) return HoldAsChild(argv[2], argv[3]);
  StartWatchdog(50000);
  ClipboardAgent agent;
  CheckHeldClipboard(agent);
  CheckNoText(agent);
  CheckReplaceDropsOtherFormats(agent);
  CheckEmptyText(agent);
  CheckRoundTrips(agent);
  CheckZeroInside(agent);
  return FinishReport();
}
