// The socket layer's start-up check, made once per library object.
#pragma once

namespace ylvane::sys {

// 0 when the process can create sockets, else the errno value.
int NetStartup();

}  // namespace ylvane::sys
