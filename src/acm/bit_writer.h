#pragma once
// BitWriter: appends fields least significant bit first and hands whole bytes to the file,
// holding back runs of zero bytes until a non-zero byte follows.

namespace vellox {

class BitWriter {};

}  // namespace vellox
