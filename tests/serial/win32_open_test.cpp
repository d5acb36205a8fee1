// Opening and discovery on Windows through recorded system calls, and discovery under the test
// prefix's real port mapping.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "serial/discovery.h"
#include "serial/port_win32.h"

namespace {

// What the fake system calls saw and what they answer.
struct Recorder {
  struct Open {
    std::string path;
    DWORD access, share, disposition, flags;
  };
  std::vector<Open> opens;
  std::vector<std::string> accept;  // paths that open; everything else fails with `open_error`
  DWORD open_error = ERROR_FILE_NOT_FOUND;
  std::vector<std::string> denied;  // paths held by another program
  DWORD last_error = 0;
  int closes = 0;
  bool comm_state_ok = true;
  DCB reported{};
  std::vector<DCB> written_states;
  COMMTIMEOUTS reported_timeouts{};
  std::vector<COMMTIMEOUTS> written_timeouts;
  bool version_ok = true;
  DWORD platform = VER_PLATFORM_WIN32_NT;
  DWORD version_size_seen = 0;
  std::string listing;  // empty: the listing fails
  DWORD listing_max_seen = 0;
};
Recorder* rec = nullptr;

HANDLE const kFakeHandle = reinterpret_cast<HANDLE>(0x1234);

HANDLE WINAPI fake_create(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flags, HANDLE) {
  rec->opens.push_back({path, access, share, disposition, flags});
  for (const std::string& p : rec->accept) {
    if (p == path) return kFakeHandle;
  }
  rec->last_error = rec->open_error;
  for (const std::string& p : rec->denied) {
    if (p == path) rec->last_error = ERROR_ACCESS_DENIED;
  }
  return INVALID_HANDLE_VALUE;
}
BOOL WINAPI fake_close(HANDLE h) {
  EXPECT_EQ(h, kFakeHandle);
  ++rec->closes;
  return TRUE;
}
DWORD WINAPI fake_last_error() { return rec->last_error; }
BOOL WINAPI fake_get_state(HANDLE, LPDCB dcb) {
  if (!rec->comm_state_ok) return FALSE;
  *dcb = rec->reported;
  return TRUE;
}
BOOL WINAPI fake_set_state(HANDLE, LPDCB dcb) {
  rec->written_states.push_back(*dcb);
  return TRUE;
}
BOOL WINAPI fake_get_timeouts(HANDLE, LPCOMMTIMEOUTS t) {
  *t = rec->reported_timeouts;
  return TRUE;
}
BOOL WINAPI fake_set_timeouts(HANDLE, LPCOMMTIMEOUTS t) {
  rec->written_timeouts.push_back(*t);
  return TRUE;
}
BOOL WINAPI fake_version(LPOSVERSIONINFOA v) {
  rec->version_size_seen = v->dwOSVersionInfoSize;
  if (!rec->version_ok) return FALSE;
  v->dwPlatformId = rec->platform;
  return TRUE;
}
DWORD WINAPI fake_query(LPCSTR device, LPSTR area, DWORD max) {
  EXPECT_EQ(device, nullptr);
  rec->listing_max_seen = max;
  if (rec->listing.empty() || rec->listing.size() > max) return 0;
  std::memcpy(area, rec->listing.data(), rec->listing.size());
  return static_cast<DWORD>(rec->listing.size());
}

const serial::Win32Api kFakeApi{fake_create,       fake_close,        fake_last_error,
                                fake_get_state,    fake_set_state,    fake_get_timeouts,
                                fake_set_timeouts, fake_version,      fake_query};

class Win32Seam : public ::testing::Test {
 protected:
  void SetUp() override { rec = &r; }
  void TearDown() override { rec = nullptr; }
  Recorder r;
};

// A port whose every setting differs from what the updater writes, so that a kept field shows.
DCB unusual_dcb() {
  DCB d{};
  d.DCBlength = sizeof d;
  d.BaudRate = 300;
  d.ByteSize = 7;
  d.Parity = EVENPARITY;
  d.StopBits = TWOSTOPBITS;
  d.fBinary = 0;
  d.fParity = 0;
  d.fOutX = 1;
  d.fOutxCtsFlow = 1;
  d.fOutxDsrFlow = 1;
  d.fDtrControl = DTR_CONTROL_HANDSHAKE;
  d.fDsrSensitivity = 1;
  d.fTXContinueOnXoff = 1;
  d.fInX = 1;
  d.fErrorChar = 1;
  d.fNull = 1;
  d.fRtsControl = RTS_CONTROL_TOGGLE;
  d.fAbortOnError = 1;
  d.XonLim = 111;
  d.XoffLim = 222;
  d.XonChar = 0x21;
  d.XoffChar = 0x22;
  d.ErrorChar = 0x23;
  d.EofChar = 0x24;
  d.EvtChar = 0x25;
  return d;
}

TEST_F(Win32Seam, OpensTheDevicePathExclusivelyAndChangesOnlyTheLineFields) {
  r.accept = {"\\\\.\\COM12"};
  r.reported = unusual_dcb();
  r.reported_timeouts = COMMTIMEOUTS{7, 7, 7, 7, 7};
  EXPECT_EQ(serial::open_port(kFakeApi, "COM12", 57600), kFakeHandle);

  ASSERT_EQ(r.opens.size(), 1u);
  EXPECT_EQ(r.opens[0].path, "\\\\.\\COM12");
  EXPECT_EQ(r.opens[0].access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
  EXPECT_EQ(r.opens[0].share, 0u) << "no sharing: the port is held exclusively";
  EXPECT_EQ(r.opens[0].disposition, static_cast<DWORD>(OPEN_EXISTING));
  EXPECT_EQ(r.opens[0].flags, 0u) << "synchronous, no special attributes";

  DCB expected = unusual_dcb();
  expected.BaudRate = 57600;
  expected.ByteSize = 8;
  expected.Parity = NOPARITY;
  expected.StopBits = ONESTOPBIT;
  expected.fBinary = 1;
  expected.fParity = 1;
  expected.fOutX = 0;
  ASSERT_EQ(r.written_states.size(), 1u);
  EXPECT_EQ(std::memcmp(&r.written_states[0], &expected, sizeof expected), 0);

  ASSERT_EQ(r.written_timeouts.size(), 1u);
  const COMMTIMEOUTS& t = r.written_timeouts[0];
  EXPECT_EQ(t.ReadIntervalTimeout, 500u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 1000u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(Win32Seam, FallsBackToTheBareName) {
  r.accept = {"COM12"};
  r.reported = unusual_dcb();
  EXPECT_EQ(serial::open_port(kFakeApi, "COM12", 9600), kFakeHandle);
  ASSERT_EQ(r.opens.size(), 2u);
  EXPECT_EQ(r.opens[0].path, "\\\\.\\COM12");
  EXPECT_EQ(r.opens[1].path, "COM12");
  EXPECT_EQ(r.opens[1].share, 0u);
  EXPECT_EQ(r.written_states.size(), 1u);
}

TEST_F(Win32Seam, NeitherPathOpensGivesTheInvalidHandleAndTouchesNothing) {
  EXPECT_EQ(serial::open_port(kFakeApi, "COM3", 9600), INVALID_HANDLE_VALUE);
  EXPECT_EQ(r.opens.size(), 2u);
  EXPECT_TRUE(r.written_states.empty());
  EXPECT_TRUE(r.written_timeouts.empty());
}

TEST_F(Win32Seam, UnreadableLineSettingsAreLeftAloneButTheTimeoutsAreSet) {
  r.accept = {"\\\\.\\COM4"};
  r.comm_state_ok = false;
  EXPECT_EQ(serial::open_port(kFakeApi, "COM4", 9600), kFakeHandle);
  EXPECT_TRUE(r.written_states.empty());
  ASSERT_EQ(r.written_timeouts.size(), 1u);
  EXPECT_EQ(r.written_timeouts[0].ReadTotalTimeoutConstant, 1000u);
}

TEST_F(Win32Seam, NameLongerThanTheDevicePathAreaIsRefused) {
  r.accept = {"\\\\.\\COM1234", "COM12345", "\\\\.\\COM12345"};
  EXPECT_EQ(serial::open_port(kFakeApi, "COM1234", 9600), kFakeHandle) << "7 characters fit";
  ASSERT_EQ(r.opens.size(), 1u);
  EXPECT_EQ(r.opens[0].path, "\\\\.\\COM1234");
  r.opens.clear();
  EXPECT_EQ(serial::open_port(kFakeApi, "COM12345", 9600), INVALID_HANDLE_VALUE);
  EXPECT_EQ(serial::open_port(kFakeApi, "\\\\.\\pipe\\very-long-name", 9600), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(r.opens.empty()) << "nothing is tried with a name that does not fit";
}

TEST_F(Win32Seam, DiscoveryListsDeviceNamesOnNt) {
  r.listing = std::string("C:\0COM1\0COM3\0com12\0LPT1\0COM\0\0", 31);
  std::uint8_t presence[serial::kPresenceSize];
  std::memset(presence, 1, sizeof presence);
  EXPECT_EQ(serial::discover_ports(kFakeApi, presence), 3);
  EXPECT_EQ(r.version_size_seen, 148u);
  EXPECT_EQ(r.listing_max_seen, 65535u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(presence[i], (i == 1 || i == 3 || i == 12) ? 1 : 0) << i;
  EXPECT_TRUE(r.opens.empty()) << "the listing opens no port";
}

TEST_F(Win32Seam, FailedListingFindsNothingAndDoesNotProbe) {
  std::uint8_t presence[serial::kPresenceSize];
  std::memset(presence, 1, sizeof presence);
  EXPECT_EQ(serial::discover_ports(kFakeApi, presence), 0);
  for (std::uint8_t p : presence) EXPECT_EQ(p, 0);
  EXPECT_TRUE(r.opens.empty());
}

TEST_F(Win32Seam, ProbesEveryPortWhenThereIsNoListing) {
  for (int not_nt = 0; not_nt < 2; ++not_nt) {
    SCOPED_TRACE(not_nt ? "not NT" : "version query fails");
    r = Recorder{};
    r.version_ok = not_nt != 0;
    r.platform = VER_PLATFORM_WIN32_WINDOWS;
    r.accept = {"\\\\.\\COM3", "\\\\.\\COM200"};
    r.denied = {"\\\\.\\COM7"};
    r.listing = std::string("COM9\0\0", 6);  // never asked for
    std::uint8_t presence[serial::kPresenceSize];
    std::memset(presence, 1, sizeof presence);
    EXPECT_EQ(serial::discover_ports(kFakeApi, presence), 3);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(presence[i], (i == 3 || i == 7 || i == 200) ? 1 : 0) << i;
    ASSERT_EQ(r.opens.size(), 255u);
    EXPECT_EQ(r.opens.front().path, "\\\\.\\COM1");
    EXPECT_EQ(r.opens.back().path, "\\\\.\\COM255");
    EXPECT_EQ(r.opens[0].share, 0u);
    EXPECT_EQ(r.closes, 2) << "each port that opened is closed at once";
  }
}

// The test prefix maps COM5..COM12 to paths in the build tree; Wine lists them as devices.
TEST(Win32Discovery, ListsTheMappedPortsUnderWine) {
  std::uint8_t presence[serial::kPresenceSize];
  const std::int32_t count = serial::discover_ports(presence);
  EXPECT_GE(count, 8);
  for (int i = 5; i <= 12; ++i) EXPECT_EQ(presence[i], 1) << "COM" << i;
}

}  // namespace
