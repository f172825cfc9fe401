#include "YvDetectorLink.h"

#include "YvLib.h"

namespace ylvane {

IYvDetectorLink* g_pDetector = nullptr;

IYvDetectorLink* AcquireDetector(CYvLib& lib) {
  CCritLock lock(lib.Lock());
  if (g_pDetector) g_pDetector->AddRef();
  return g_pDetector;
}

DetectorPauseScope::DetectorPauseScope(CYvLib& lib) {
  m_pause.detector = AcquireDetector(lib);
  if (m_pause.detector) m_pause.detector->Pause(m_pause);
}

DetectorPauseScope::~DetectorPauseScope() {
  if (m_pause.detector) {
    m_pause.detector->Resume(m_pause);
    m_pause.detector->Release();
  }
}

}  // namespace ylvane
