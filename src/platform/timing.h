#pragma once

namespace keyhaven {
// The agent's long pauses and bounded waits (poll period, enumeration retries,
// provider-lock wait, plug-in registration pause) keep their product values
// in the code that asks for them. Each is passed through timing_ms() right
// where it is used: keyhaven.exe links the identity, test builds link a
// version that shortens them, so tests need not wait them out.

unsigned long timing_ms(unsigned long product_ms);

}  // namespace keyhaven
