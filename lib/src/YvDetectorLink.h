// What the library object asks of the device detector. The detector exists
// only while a notifier is attached; g_pDetector is null otherwise and is
// read and written under the library lock.
#pragma once

#include <cstdint>

#include "YvCom.h"

namespace ylvane {

class CYvLib;

// The record of one pause of the detector's background scans.
struct DetectorPause {
  class IYvDetectorLink* detector = nullptr;
  int waiter = -1;  // the detector's acknowledgement event
  bool acknowledged = false;  // the scans stopped within the time allowed
};

class IYvDetectorLink {
 public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;
  // Stops the background scans until Resume; waits at most 10000 ms for the
  // acknowledgement. Both are called without the library lock.
  virtual void Pause(DetectorPause& pause) = 0;
  virtual void Resume(DetectorPause& pause) = 0;
  // A device event forwarded by the host; entered with the library lock held.
  virtual void OnDeviceChange(uint32_t EventType, void* EventData) = 0;

 protected:
  virtual ~IYvDetectorLink() = default;
};

extern IYvDetectorLink* g_pDetector;

// The detector with a reference for the caller, or null.
IYvDetectorLink* AcquireDetector(CYvLib& lib);

// Keeps the detector's scans paused for the life of the scope; does nothing
// while there is no detector.
class DetectorPauseScope {
 public:
  explicit DetectorPauseScope(CYvLib& lib);
  ~DetectorPauseScope();
  DetectorPauseScope(const DetectorPauseScope&) = delete;
  DetectorPauseScope& operator=(const DetectorPauseScope&) = delete;

 private:
  DetectorPause m_pause;
};

}  // namespace ylvane
