// The telnet decoder of the TCP ports on any received bytes. Kept: the
// chunks the bytes arrive in do not change what is decoded (the input's
// bytes also give the chunk sizes); the decoder never makes data; data
// framed by our own sender decodes to itself, after whatever came before
// once the decoder is reset; a SET-BAUDRATE command decodes to nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzCheck.h"
#include "YvTelnet.h"

using ylvane::CTelnetDecoder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  std::vector<uint8_t> whole;
  CTelnetDecoder one;
  one.Decode(AData, ASize, whole);
  FUZZ_CHECK(whole.size() <= ASize);

  std::vector<uint8_t> pieces;
  CTelnetDecoder chunked;
  for (size_t at = 0; at < ASize;) {
    const size_t n = std::min<size_t>(ASize - at, AData[at] % 7 + 1);
    chunked.Decode(AData + at, n, pieces);
    at += n;
  }
  FUZZ_CHECK(pieces == whole);

  std::vector<uint8_t> wire;
  ylvane::AppendEscaped(wire, AData, ASize);
  std::vector<uint8_t> back;
  one.Reset();
  one.Decode(wire.data(), wire.size(), back);
  FUZZ_CHECK(back == std::vector<uint8_t>(AData, AData + ASize));

  uint32_t rate = 0;
  for (size_t i = 0; i < ASize && i < 4; ++i) rate = rate << 8 | AData[i];
  const std::vector<uint8_t> command = ylvane::BaudRateCommand(rate);
  std::vector<uint8_t> nothing;
  one.Decode(command.data(), command.size(), nothing);
  FUZZ_CHECK(nothing.empty());
  return 0;
}
