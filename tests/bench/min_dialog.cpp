// min-dialog: the smallest dialog program, the start-up reference of the transfer benchmark.
// One modal dialog from a template in memory, captioned "Zorven" with a list box as control
// 1005 (so that the end-to-end driver finds it as it finds the update dialog), closed by
// IDCANCEL. No main window, no resources, no common controls.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

constexpr WORD kIdList = 1005;

// DLGTEMPLATE, then menu, class, caption; one DLGITEMTEMPLATE on a DWORD boundary.
struct alignas(4) Template {
  WORD words[256];
};

std::size_t put_text(WORD* at, const wchar_t* text) {
  const std::size_t n = std::wcslen(text) + 1;
  std::memcpy(at, text, n * sizeof(WORD));
  return n;
}

INT_PTR CALLBACK proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDCANCEL || LOWORD(wparam) == IDOK)) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  Template t{};
  auto* dlg = reinterpret_cast<DLGTEMPLATE*>(t.words);
  dlg->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
  dlg->cdit = 1;
  dlg->cx = 200;
  dlg->cy = 120;
  WORD* p = t.words + sizeof(DLGTEMPLATE) / sizeof(WORD);
  *p++ = 0;  // no menu
  *p++ = 0;  // the dialog class
  p += put_text(p, L"Zorven");
  *p++ = 8;  // font size, with DS_SETFONT
  p += put_text(p, L"MS Shell Dlg");
  if ((p - t.words) % 2) ++p;  // DWORD alignment
  auto* item = reinterpret_cast<DLGITEMTEMPLATE*>(p);
  item->style = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT;
  item->x = 7;
  item->y = 7;
  item->cx = 186;
  item->cy = 106;
  item->id = kIdList;
  p += sizeof(DLGITEMTEMPLATE) / sizeof(WORD);
  *p++ = 0xFFFF;
  *p++ = 0x0083;  // list box
  *p++ = 0;       // no text
  *p++ = 0;       // no creation data
  return static_cast<int>(DialogBoxIndirectParamW(instance, dlg, nullptr, proc, 0));
}
