#include "UsbBed.h"

namespace testtools {

namespace {

constexpr int kAnswerMs = 10000;

}  // namespace

UsbBed::UsbBed(const std::string& AToolPath, const std::string& APreload)
    : m_proc({AToolPath}, WithVariable(CurrentEnvironment(), "LD_PRELOAD", APreload),
             {.pipeIn = true, .captureOut = true}),
      m_preload(APreload) {}

UsbBed::~UsbBed() {
  // The bed removes its folder as it ends.
  m_proc.CloseInput();
  m_proc.WaitExit(kAnswerMs);
}

bool UsbBed::Ready() {
  if (!m_dir.empty()) return true;
  const auto line = m_proc.ReadLine(kAnswerMs);
  if (!line || line->rfind("ready ", 0) != 0) return false;
  m_dir = line->substr(6);
  return true;
}

Environment UsbBed::ProgramEnvironment(Environment AEnv) const {
  AEnv = WithVariable(std::move(AEnv), "LD_PRELOAD", m_preload);
  return WithVariable(std::move(AEnv), "UMOCKDEV_DIR", m_dir);
}

bool UsbBed::Plug(const std::string& AUsb, const std::string& ASerial, const std::string& ATty,
                  const std::string& ADevicePath, const std::string& AIds) {
  return Command("plug " + AUsb + " " + (ASerial.empty() ? "-" : ASerial) + " " + ATty + " " + ADevicePath + " " +
                 AIds);
}

bool UsbBed::Unplug(const std::string& AUsb, const std::string& ATty) { return Command("unplug " + AUsb + " " + ATty); }

bool UsbBed::PullOutAtOpen(const std::string& AUsb, const std::string& ATty) {
  return Command("pull-at-open " + AUsb + " " + ATty);
}

bool UsbBed::Command(const std::string& ALine) {
  if (!Ready() || !m_proc.WriteInput(ALine + "\n")) return false;
  return m_proc.ReadLine(kAnswerMs) == std::optional<std::string>("ok");
}

}  // namespace testtools
