// A driver device for tests: records every request and answers each function
// as scripted, or passes it on to the device behind it.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "driver/protocol.h"
#include "platform/fake_platform.h"
#include "platform/platform.h"
#include "report/language.h"
#include "report/utility.h"
#include "app/world.h"

namespace torv::test {

struct RecordedRequest {
  std::uint32_t Ioctl = 0;
  RequestBlock Req;
  std::vector<std::uint8_t> Attached;
  std::uint32_t OutLen = 0;
  bool HadOut = false;
};

struct Answer {
  bool Ok = true;
  std::uint32_t LastError = 0;
  std::vector<std::uint32_t> Words;  // written little-endian into the reply area
};

class RecordingDevice : public Device {
 public:
  std::vector<RecordedRequest> Requests;
  std::map<std::uint32_t, Answer> Answers;  // by function; unlisted: accepted, no words
  std::string Reason;                       // what DescribeError says
  // The device that answers instead (a simulated machine's), or null.
  std::shared_ptr<Device> Behind;

  DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16], const void* attached,
                    std::size_t attachedLen, void* out, std::uint32_t outLen) override {
    RecordedRequest r;
    r.Ioctl = ioctlCode;
    r.Req = DecodeRequest(in);
    if (attached != nullptr) {
      const auto* p = static_cast<const std::uint8_t*>(attached);
      r.Attached.assign(p, p + attachedLen);
    }
    r.OutLen = outLen;
    r.HadOut = out != nullptr;
    Requests.push_back(r);
    if (Behind) return Behind->Control(ioctlCode, in, attached, attachedLen, out, outLen);
    const auto it = Answers.find(r.Req.Func);
    if (it == Answers.end()) return {true, 0};
    const Answer& a = it->second;
    auto* o = static_cast<std::uint8_t*>(out);
    for (std::size_t i = 0; i < a.Words.size(); ++i) {
      for (std::size_t b = 0; b < 4 && 4 * i + b < outLen; ++b) {
        o[4 * i + b] = static_cast<std::uint8_t>(a.Words[i] >> (8 * b));
      }
    }
    return {a.Ok, a.LastError};
  }

  std::string DescribeError(std::uint32_t lastError) const override {
    return Behind ? Behind->DescribeError(lastError) : Reason;
  }
};

// A fresh world over the fake platform with a recording device open as the
// driver.
struct DriverWorld {
  FakePlatform platform;
  World w{platform};
  std::shared_ptr<RecordingDevice> dev = std::make_shared<RecordingDevice>();
  ListBox box;

  DriverWorld() {
    platform.Devices().Register("\\\\.\\rec", dev);
    std::uint32_t err = 0;
    w.drv.DrvHandle = platform.Devices().Open("\\\\.\\rec", err);
    w.drv.DrvIoctlCode = kDrvIoctlCode;
    ReportInit(w.report, box, true, false, false);
  }

  // The lines written to the report, without trailing blanks, empty lines
  // left out.
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (std::string s : box.Items) {
      while (!s.empty() && s.back() == ' ') s.pop_back();
      if (!s.empty()) out.push_back(s);
    }
    return out;
  }
};

}  // namespace torv::test
