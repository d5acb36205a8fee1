#include "tests/e2e/resources_win32.h"

#include <winternl.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// GDI objects in the program's GDI handle table, which the process environment block points
// at; an entry with a type is a live object. Wine keeps such a table per process, with entries
// of a fixed 24-byte layout (object pointer, owner, unique value, type, flags, user pointer)
// whatever the bitness. -1 when the table cannot be found or read.
constexpr std::size_t kGdiTableEntries = 0x10000;
constexpr std::size_t kGdiEntrySize = 24;
constexpr std::size_t kGdiEntryTypeOffset = 14;
#ifdef _WIN64
constexpr std::size_t kPebGdiTableOffset = 0xF8;
#else
constexpr std::size_t kPebGdiTableOffset = 0x94;
#endif

long gdi_table_count(HANDLE process) {
  using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION info{};
  ULONG len = 0;
  if (!query || query(process, ProcessBasicInformation, &info, sizeof info, &len) != 0 || !info.PebBaseAddress)
    return -1;
  void* table = nullptr;
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, reinterpret_cast<const char*>(info.PebBaseAddress) + kPebGdiTableOffset, &table,
                         sizeof table, &got) ||
      got != sizeof table || table == nullptr)
    return -1;
  std::vector<unsigned char> entries(kGdiTableEntries * kGdiEntrySize);
  if (!ReadProcessMemory(process, table, entries.data(), entries.size(), &got) || got != entries.size()) return -1;
  long live = 0;
  for (std::size_t i = 0; i < kGdiTableEntries; ++i)
    if (entries[i * kGdiEntrySize + kGdiEntryTypeOffset] != 0) ++live;
  return live;
}

// Handles the process holds as the system's handle list gives them (in Wine, the server's own
// table); -1 when the list cannot be had.
struct SystemHandleEntry {
  ULONG owner_pid;
  BYTE object_type;
  BYTE flags;
  USHORT value;
  PVOID object;
  ULONG access;
};

struct SystemHandleList {
  ULONG count;
  SystemHandleEntry entries[1];
};

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

long system_handle_count(DWORD pid) {
  using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<unsigned char> buf(1 << 16);
  for (int tries = 0; tries < 8; ++tries) {
    ULONG need = 0;
    const LONG status = query(kSystemHandleInformation, buf.data(), static_cast<ULONG>(buf.size()), &need);
    if (status == kStatusInfoLengthMismatch) {
      buf.resize(need > buf.size() ? need + 4096 : buf.size() * 2);
      continue;
    }
    if (status != 0) return -1;
    ULONG count = 0;
    std::memcpy(&count, buf.data(), sizeof count);
    const std::size_t first = offsetof(SystemHandleList, entries);
    if (first + static_cast<std::size_t>(count) * sizeof(SystemHandleEntry) > buf.size()) return -1;
    long mine = 0;
    for (ULONG i = 0; i < count; ++i) {
      SystemHandleEntry e;
      std::memcpy(&e, buf.data() + first + i * sizeof e, sizeof e);
      if (e.owner_pid == pid) ++mine;
    }
    return mine;
  }
  return -1;
}

BOOL CALLBACK count_child(HWND, LPARAM lp) {
  ++*reinterpret_cast<long*>(lp);
  return TRUE;
}

struct WindowCount {
  DWORD pid;
  long count;
};

BOOL CALLBACK count_program_windows(HWND w, LPARAM lp) {
  auto* c = reinterpret_cast<WindowCount*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  if (pid != c->pid) return TRUE;
  ++c->count;
  EnumChildWindows(w, count_child, reinterpret_cast<LPARAM>(&c->count));
  return TRUE;
}

}  // namespace

bool probe_resources(DWORD pid, ProcessResources& out) {
  HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!p) return false;
  SetLastError(0);
  out.handles_ok = GetProcessHandleCount(p, &out.handles) != 0;
  out.handles_error = out.handles_ok ? 0 : GetLastError();
  SetLastError(0);
  out.gui_user = GetGuiResources(p, GR_USEROBJECTS);
  out.gui_user_error = GetLastError();
  SetLastError(0);
  out.gui_gdi = GetGuiResources(p, GR_GDIOBJECTS);
  out.gui_gdi_error = GetLastError();
  out.gdi_table = gdi_table_count(p);
  CloseHandle(p);
  out.system_handles = system_handle_count(pid);
  WindowCount windows{pid, 0};
  EnumWindows(count_program_windows, reinterpret_cast<LPARAM>(&windows));
  out.windows = windows.count;
  return true;
}
