// Facts about this computer that the stand-in runtime measures or looks up, never invents.
#ifndef QZ7_HOST_MACHINE_FACTS_H_
#define QZ7_HOST_MACHINE_FACTS_H_

#include <string>

namespace qz7::host {

// The characters permitted in names: the letters A-Z and a-z, the digits 0-9 and "@#$_".
constexpr const char* kPermittedCharset =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@#$_";

// Times a fixed integer loop (the best of a few short runs, a few milliseconds in all) and
// gives milliseconds per loop step. kMeasurementFailed when the clock never advanced.
[[nodiscard]] int MeasureProcessorSpeed(float* millisecondsPerStep);

// Times copies of a buffer larger than the processor caches (best of a few runs) and gives
// the throughput in thousands of bytes per millisecond, which is megabytes per second.
[[nodiscard]] int MeasureCopyBandwidth(float* megabytesPerSecond);

// This computer's name as the installed-product query reports it (the platform's computer
// name). kSystemError when it cannot be had.
[[nodiscard]] int ProductComputerName(std::string* name);

}  // namespace qz7::host

#endif  // QZ7_HOST_MACHINE_FACTS_H_
