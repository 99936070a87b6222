#include "driver/protocol.h"

#include <gtest/gtest.h>

#include "support/recording_device.h"

namespace torv {
namespace {

using test::Answer;
using test::DriverWorld;

TEST(RequestBlock, IsFourLittleEndianWords) {
  std::uint8_t b[16];
  EncodeRequest(RequestBlock{91, 0x1C, 0x01020304, 0xA1B2C3D4}, b);
  const std::uint8_t want[16] = {91, 0, 0, 0, 0x1C, 0, 0, 0, 4, 3, 2, 1, 0xD4, 0xC3, 0xB2, 0xA1};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(b[i], want[i]) << "byte " << i;
  const RequestBlock r = DecodeRequest(b);
  EXPECT_EQ(r.Func, 91u);
  EXPECT_EQ(r.P1, 0x1Cu);
  EXPECT_EQ(r.P2, 0x01020304u);
  EXPECT_EQ(r.P3, 0xA1B2C3D4u);
}

TEST(RequestBlock, ControlCodeFollowsTheCtlCodeRule) {
  EXPECT_EQ(kDrvIoctlCode, (40000u << 16) | (1u << 14) | (2048u << 2) | 0u);
}

TEST(DrvControl, SendsTheBlockAndKeepsTheLastError) {
  DriverWorld t;
  t.dev->Answers[ReqMsrRead] = Answer{false, 0xC0000096u, {}};
  std::uint8_t reply[8] = {};
  t.w.drv.DrvLastError = 77;
  EXPECT_FALSE(DrvControl(t.w.ForDriver(), ReqMsrRead, 0x2A, 0, 0, reply, sizeof reply));
  EXPECT_EQ(t.w.drv.DrvLastError, 0xC0000096u);
  ASSERT_EQ(t.dev->Requests.size(), 1u);
  EXPECT_EQ(t.dev->Requests[0].Ioctl, kDrvIoctlCode);
  EXPECT_EQ(t.dev->Requests[0].Req.Func, static_cast<std::uint32_t>(ReqMsrRead));
  EXPECT_EQ(t.dev->Requests[0].Req.P1, 0x2Au);
  EXPECT_EQ(t.dev->Requests[0].OutLen, 8u);

  // An accepted request clears the last error left by the one before.
  EXPECT_TRUE(DrvControl(t.w.ForDriver(), ReqSetCpu, 1, 0, 0, nullptr, 0));
  EXPECT_EQ(t.w.drv.DrvLastError, 0u);
  // A request without reply still hands over a reply area, of length 0.
  EXPECT_TRUE(t.dev->Requests[1].HadOut);
  EXPECT_EQ(t.dev->Requests[1].OutLen, 0u);
}

TEST(DrvControl, FailsOnAHandleThatNamesNoDevice) {
  DriverWorld t;
  t.w.drv.DrvHandle = kInvalidHandle;
  std::uint8_t reply[8];
  EXPECT_FALSE(DrvControl(t.w.ForDriver(), ReqVersion, 0, 0, 0, reply, sizeof reply));
  EXPECT_EQ(t.w.drv.DrvLastError, 6u);
  EXPECT_TRUE(t.dev->Requests.empty());
}

struct OpenCase {
  const char* Name;
  std::uint8_t OsKind;
  std::uint32_t Identity;
  Answer Version;
  bool Result;
  std::uint32_t DrvVersion;
  bool SignatureSent;
};

class DrvOpenCases : public ::testing::TestWithParam<OpenCase> {};

TEST_P(DrvOpenCases, ChecksIdentityAndVersion) {
  const OpenCase& c = GetParam();
  DriverWorld t;
  t.dev->Answers[ReqIdentify] = Answer{true, 0, {c.Identity, 0, 0}};
  t.dev->Answers[ReqVersion] = c.Version;
  t.w.drv.DrvHandle = 0;
  EXPECT_EQ(DrvOpen(t.w.ForDriver(), c.OsKind, "\\\\.\\rec"), c.Result);
  EXPECT_EQ(t.w.drv.DrvVersion, c.DrvVersion);
  EXPECT_EQ(t.w.drv.DrvIoctlCode, kDrvIoctlCode);
  EXPECT_EQ(t.platform.SleptMs, 100);
  std::vector<std::uint32_t> funcs;
  for (const auto& r : t.dev->Requests) funcs.push_back(r.Req.Func);
  std::vector<std::uint32_t> want = {ReqIdentify, ReqVersion};
  if (c.SignatureSent) want.push_back(ReqSignature);
  EXPECT_EQ(funcs, want);
  if (c.SignatureSent) {
    EXPECT_EQ(t.dev->Requests.back().Req.P1, kDrvSignature);
  }
  EXPECT_EQ(t.dev->Requests[0].OutLen, 12u);
  EXPECT_EQ(t.dev->Requests[1].OutLen, 8u);
}

const Answer kV0103{true, 0, {0x0103, 0x0777}};
const Answer kV1_1{true, 0, {1, 1}};
const Answer kVFail{false, 1, {0x0103, 0}};

INSTANTIATE_TEST_SUITE_P(
    Protocol, DrvOpenCases,
    ::testing::Values(
        OpenCase{"Linux12340000", kOsLinux, 0x12340000, kV0103, true, 0x0103, true},
        OpenCase{"Linux1234FFFF", kOsLinux, 0x1234FFFF, kV0103, true, 0x0103, true},
        OpenCase{"NT1234ABCD", kOsWinNT, 0x1234ABCD, kV0103, true, 0x0103, true},
        OpenCase{"Linux12330000", kOsLinux, 0x12330000, kV0103, false, 0x10777, false},
        OpenCase{"Linux00001234", kOsLinux, 0x00001234, kV0103, false, 0x10777, false},
        OpenCase{"Win98MajorMinor", kOsWin98, 0x12340001, kV1_1, true, 0x0101, false},
        OpenCase{"Win95MajorMinor", kOsWin95, 0x12340001, kV1_1, true, 0x0101, false},
        OpenCase{"NTVersionFails", kOsWinNT, 0x12340001, kVFail, true, 0, true},
        OpenCase{"Win98BadIdentity", kOsWin98, 0x12330000, kV1_1, false, 0x0101, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(DrvOpen, MissingDeviceSendsNothingAndShowsTheDebugBox) {
  DriverWorld t;
  t.w.shell.OsKind = kOsLinux;
  t.w.settings.DriverDebug = true;
  t.w.drv.DrvLastError = 0;
  EXPECT_FALSE(DrvOpen(t.w.ForDriver(), t.w.shell.OsKind, "\\\\.\\nothing"));
  EXPECT_EQ(t.w.drv.DrvHandle, kInvalidHandle);
  EXPECT_EQ(t.w.drv.DrvVersion, 0u);
  EXPECT_EQ(t.platform.SleptMs, 100);
  EXPECT_TRUE(t.dev->Requests.empty());
  ASSERT_EQ(t.platform.Boxes.size(), 1u);
  EXPECT_EQ(t.platform.Boxes[0].Title, "DRVdebug");
  EXPECT_EQ(t.platform.Boxes[0].Buttons, BoxButtons::Ok);
  EXPECT_EQ(t.platform.Boxes[0].Text,
            "\\\\.\\nothing, FFFFFFFF, found= false:00000002,  false:00000000,  false:00000000,"
            "Vers:0000");
}

TEST(DrvOpen, DebugBoxShowsTheLastRequestsError) {
  DriverWorld t;
  t.w.shell.OsKind = kOsLinux;
  t.w.settings.DriverDebug = true;
  t.dev->Answers[ReqIdentify] = Answer{true, 0, {0x12340001}};
  t.dev->Answers[ReqVersion] = Answer{true, 0, {0x0103}};
  t.dev->Answers[ReqSignature] = Answer{false, 87, {}};
  EXPECT_TRUE(DrvOpen(t.w.ForDriver(), t.w.shell.OsKind, "\\\\.\\rec"));
  ASSERT_EQ(t.platform.Boxes.size(), 1u);
  EXPECT_EQ(t.platform.Boxes[0].Text,
            "\\\\.\\rec, " + HexDword(t.w.drv.DrvHandle) +
                ", found= true :00000000,  true :00000057,  true :00000057,Vers:0103");
}

TEST(DrvOpen, NoBoxWithoutTheDebugSwitch) {
  DriverWorld t;
  DrvOpen(t.w.ForDriver(), t.w.shell.OsKind, "\\\\.\\nothing");
  EXPECT_TRUE(t.platform.Boxes.empty());
}

}  // namespace
}  // namespace torv
