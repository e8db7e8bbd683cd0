// The timer resolution calls the updater makes around a run. Wine's sleeps
// are fine-grained already, so the request only needs the right answer.
#include <windows.h>

#include <mmsystem.h>

MMRESULT WINAPI timeBeginPeriod(UINT period) { return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }
MMRESULT WINAPI timeEndPeriod(UINT period) { return period == 0 ? TIMERR_NOCANDO : TIMERR_NOERROR; }
