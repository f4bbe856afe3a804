// The replay fuzzer renders through the output's block fill without a sound device or an
// output thread: these stand in for the platform calls the rest of the output makes, and
// trap, because nothing the fuzzer runs may reach them.
#include "platform/thread.h"
#include "platform/wave_out.h"

namespace tessivane::platform {

namespace {

[[noreturn]] void unreachable() {
    __builtin_trap();
}

} // namespace

MMRESULT waveOutOpen(HWAVEOUT*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD) {
    unreachable();
}
MMRESULT waveOutPrepareHeader(HWAVEOUT, WAVEHDR*, UINT) {
    unreachable();
}
MMRESULT waveOutWrite(HWAVEOUT, WAVEHDR*, UINT) {
    unreachable();
}
MMRESULT waveOutGetPosition(HWAVEOUT, MMTIME*, UINT) {
    unreachable();
}
MMRESULT waveOutUnprepareHeader(HWAVEOUT, WAVEHDR*, UINT) {
    unreachable();
}
MMRESULT waveOutReset(HWAVEOUT) {
    unreachable();
}
MMRESULT waveOutClose(HWAVEOUT) {
    unreachable();
}
DWORD waveOutUnderruns(HWAVEOUT) {
    unreachable();
}
HANDLE CreateThread(void*, std::size_t, LPTHREAD_START_ROUTINE, void*, DWORD, DWORD*) {
    unreachable();
}
BOOL SetThreadPriority(HANDLE, int) {
    unreachable();
}
BOOL CloseHandle(HANDLE) {
    unreachable();
}
void Sleep(DWORD) {
    unreachable();
}

} // namespace tessivane::platform
