// What the installer's core relies on from the device, written once against
// PlatformServices and run on every platform: the simulated device on Linux and the Win32
// platform under wine. A ContractDevice gives each test its platform and the fixtures
// that only a platform's own side can set up (another program's window, a storage card, a
// registry value of a type the installer never writes).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_services.h"

namespace autorun::contract {

class ContractDevice {
 public:
  virtual ~ContractDevice() = default;

  // The platform under test. A call below may replace it: take it afresh after one.
  virtual PlatformServices& platform() = 0;
  // A rooted device path ("\name", no drive) of an empty folder in the root that only
  // this test uses.
  virtual std::u16string scratch() const = 0;
  // The installer's own module, as the entry receives it.
  virtual ModuleHandle module() const = 0;

  // Root folders by these names exist and are the device's storage cards, and no other
  // folder is one. An empty list takes every card out.
  virtual void insertCards(const std::vector<std::u16string>& names) = 0;
  // A top-level window of another program, open until it obeys a close request (when
  // `closesOnRequest`). Its handle.
  virtual WindowHandle openWindow(const std::u16string& windowClass, const std::u16string& title,
                                  bool closesOnRequest) = 0;
  // Lets windows handle what was posted to them; true when `window` is gone.
  virtual bool windowGone(WindowHandle window) = 0;
  // A registry value written by another program, of any type (created with its key).
  virtual void writeForeignValue(RegistryRoot root, const std::u16string& key,
                                 const std::u16string& name, std::uint32_t type,
                                 const std::vector<std::uint8_t>& data) = 0;
};

// The device of the platform this program tests, fresh for the test `testName`.
std::unique_ptr<ContractDevice> makeContractDevice(std::string_view testName);

}  // namespace autorun::contract
