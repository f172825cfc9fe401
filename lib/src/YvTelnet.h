// Telnet framing of the TCP ports: the byte 0xFF (IAC) is doubled on the
// wire, telnet commands and subnegotiations are removed from what arrives,
// and the baud rate is asked for with the serial-over-telnet command
// SET-BAUDRATE. No option is ever negotiated or answered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ylvane {

namespace telnet {
constexpr uint8_t kIac = 0xFF;
constexpr uint8_t kSb = 0xFA;
constexpr uint8_t kSe = 0xF0;
constexpr uint8_t kWill = 0xFB;
constexpr uint8_t kDont = 0xFE;
constexpr uint8_t kComPortOption = 44;
constexpr uint8_t kSetBaudRate = 1;
}  // namespace telnet

// Appends bytes in wire form: every 0xFF sent twice.
void AppendEscaped(std::vector<uint8_t>& wire, const uint8_t* bytes, size_t count);

// The complete SET-BAUDRATE command: IAC SB 44 1, the rate as 32 bits
// big-endian (escaped), IAC SE.
std::vector<uint8_t> BaudRateCommand(uint32_t baudRate);

// Strips the telnet framing from a received byte stream, one chunk after the
// other. An unfinished command at the end of a chunk is remembered and
// finished by the next chunk.
class CTelnetDecoder {
 public:
  // Appends the data bytes of the chunk to out.
  void Decode(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out);
  // Back to plain data, dropping a half-received command.
  void Reset() { m_state = State::Data; }

 private:
  enum class State { Data, Command, Option, Sub, SubIac };
  State m_state = State::Data;
};

}  // namespace ylvane
