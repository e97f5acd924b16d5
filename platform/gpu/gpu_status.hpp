#pragma once
// Naming and reporting the statuses of checked GPU calls. A failed check is fatal: one line on
// standard error, a device reset, exit status 1.

namespace kestrav {

// The names of the runtime and FFT library status codes; "<unknown>" for any other code.
const char* RuntimeStatusName(int code);
const char* FftStatusName(int code);

// The name a message gives a runtime status: the linked runtime's own name for the code when it
// knows one (its numbering differs from the table's for many codes, and the message must not
// name the wrong error), the table's name otherwise. linkedName may be null.
const char* linkedRuntimeStatusName(int code, const char* linkedName);

// Writes "CUDA error at <label>:<line> code=<code>(<name>) \n" to standard error in one call,
// resets the device through the installed hook, and ends the process with status 1.
[[noreturn]] void failGpuCall(const char* label, int line, int code, const char* name);

// Installed by the CUDA backend; the host-only program has no device to reset.
using DeviceResetHook = void (*)();
void setDeviceResetHook(DeviceResetHook hook);

}  // namespace kestrav
