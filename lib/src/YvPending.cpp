// Hand-offs whose work is not in the library yet. Each one answers
// E_NOTIMPL until its own module replaces it here.
#include "YvHandOff.h"

namespace ylvane {

HRESULT GetFtDriverVersion(IYvPort&, uint32_t*) { return E_NOTIMPL; }

}  // namespace ylvane
