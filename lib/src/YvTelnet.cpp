#include "YvTelnet.h"

namespace ylvane {

using namespace telnet;

void AppendEscaped(std::vector<uint8_t>& wire, const uint8_t* bytes, size_t count) {
  wire.reserve(wire.size() + count);
  for (size_t i = 0; i < count; ++i) {
    wire.push_back(bytes[i]);
    if (bytes[i] == kIac) wire.push_back(kIac);
  }
}

std::vector<uint8_t> BaudRateCommand(uint32_t baudRate) {
  std::vector<uint8_t> cmd{kIac, kSb, kComPortOption, kSetBaudRate};
  const uint8_t rate[4] = {static_cast<uint8_t>(baudRate >> 24), static_cast<uint8_t>(baudRate >> 16),
                           static_cast<uint8_t>(baudRate >> 8), static_cast<uint8_t>(baudRate)};
  AppendEscaped(cmd, rate, sizeof rate);
  cmd.push_back(kIac);
  cmd.push_back(kSe);
  return cmd;
}

void CTelnetDecoder::Decode(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    switch (m_state) {
      case State::Data:
        if (b == kIac)
          m_state = State::Command;
        else
          out.push_back(b);
        break;
      case State::Command:
        if (b == kIac) {
          out.push_back(kIac);
          m_state = State::Data;
        } else if (b == kSb) {
          m_state = State::Sub;
        } else if (b >= kWill && b <= kDont) {
          m_state = State::Option;
        } else {
          m_state = State::Data;  // a two-byte command, or a stray byte after IAC
        }
        break;
      case State::Option:
        m_state = State::Data;  // the option code
        break;
      case State::Sub:
        if (b == kIac) m_state = State::SubIac;
        break;
      case State::SubIac:
        // IAC IAC inside is content; IAC SE ends it; IAC and anything else
        // breaks it off, and what follows is data again.
        m_state = b == kIac ? State::Sub : State::Data;
        break;
    }
  }
}

}  // namespace ylvane
