// The operating-system layer: everything the program needs from the system
// behind one interface, with a Linux implementation and a scriptable fake.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace torv {

// Platform kinds as the program numbers them.
enum : std::uint8_t {
  kOsWin95 = 0,
  kOsWinNT = 1,
  kOsWin32s = 2,
  kOsWin98 = 3,
  kOsOther = 6,
  kOsLinux = 7,
};

// Result of one device request: whether the device accepted it and the
// system's last-error value afterwards.
struct DevResult {
  bool Ok = false;
  std::uint32_t LastError = 0;
};

// A driver device. `in` is the 16-byte request block; `attached` is memory of
// the caller that the request refers to (the cache transaction block), since a
// 32-bit parameter cannot carry an address of this process.
class Device {
 public:
  virtual ~Device() = default;
  virtual DevResult Control(std::uint32_t ioctlCode, const std::uint8_t (&in)[16],
                            const void* attached, std::size_t attachedLen, void* out,
                            std::uint32_t outLen) = 0;
  // Words for a last-error value this device produced ("" when it has none).
  virtual std::string DescribeError(std::uint32_t lastError) const = 0;
};

inline constexpr std::uint32_t kInvalidHandle = 0xFFFFFFFFu;
inline constexpr std::uint32_t kErrFileNotFound = 2;

// Devices by name ("\\.\name") and open handles.
class DeviceTable {
 public:
  void Register(const std::string& path, std::shared_ptr<Device> dev);
  void Unregister(const std::string& path);
  // Returns a handle, or kInvalidHandle with lastError set.
  std::uint32_t Open(const std::string& path, std::uint32_t& lastError);
  void Close(std::uint32_t handle);
  Device* Get(std::uint32_t handle) const;

 private:
  std::map<std::string, std::shared_ptr<Device>> named_;
  std::map<std::uint32_t, std::shared_ptr<Device>> open_;
  std::uint32_t next_ = 0x104;
};

enum class BoxButtons { Ok, OkCancel };
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;

// Shows message boxes: the window's own boxes, or the terminal in console mode.
class BoxPresenter {
 public:
  virtual ~BoxPresenter() = default;
  virtual int Show(std::string_view title, std::string_view text, BoxButtons buttons) = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // Platform kind: 0 Win95, 1 WinNT, 2 Win32s, 3 Win98, 6 other, 7 Linux.
  virtual std::uint8_t GetWinVersion() = 0;
  virtual int ProcessorCount() = 0;
  virtual std::uint16_t SystemLangId() = 0;  // a Windows language identifier
  // A modal box; returns kIdOk or kIdCancel. Texts are code page 1252.
  virtual int MessageBox(std::string_view title, std::string_view text, BoxButtons buttons) = 0;
  // Save-file dialog preset with `name`; false when cancelled.
  virtual bool SaveDialog(std::string& name) = 0;
  // Runs `body` on a new thread that is bound to processor `proc` (1-based)
  // before it runs, waits for it without a time limit and stores its exit
  // code. A `proc` of 0 runs it unbound (a simulated machine's processors are
  // not this computer's). False when the thread could not be created or bound.
  virtual bool RunBoundThread(int proc, const std::function<std::uint32_t()>& body,
                              std::uint32_t& exitCode) = 0;
  virtual void Sleep(int milliseconds) = 0;
  // Ends the process at once (fatal register failures).
  [[noreturn]] virtual void ExitProcess(int code) = 0;
  // Whether message boxes show in a window rather than on the terminal: a
  // fatal register failure is then also shown in an "Error" box.
  virtual bool BoxesInWindow() const { return false; }
  virtual DeviceTable& Devices() = 0;
};

}  // namespace torv
