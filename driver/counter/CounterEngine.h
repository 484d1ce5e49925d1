// The counter/timer engine as the driver core sees it: the handlers of the
// counter requests, the counter reset run at the last close, and the set-up
// and release of the engine's own resources in XXX_Init and XXX_Deinit.
#pragma once

#include <cstdint>

#include "../DeviceContext.h"
#include "../Request.h"

namespace qio::driver {

// Creates what the engine needs beyond the zero-filled record (the event its
// measurement threads sleep on). Called by XXX_Init after `lock` is ready.
bool CounterEngineInit(DeviceContext& ctx);
// Stops any measurement thread and releases the engine's resources. Called by
// XXX_Deinit.
void CounterEngineRelease(DeviceContext& ctx);

// IOCTL_COUNTER_RESET, and the reset of counters 0 and 1 at the last close.
// Never fails. It ends counter n's function, and with it every function that
// uses block n: a frequency measurement on counter n - 1 (which has lost its
// partner block) and both halves of a counted PWM or of a PWM measurement;
// it stops generator n (a frequency output too, unless the counter was only
// reset with another one) and every measurement thread of the board, and
// forgets counter n's published frequency. Event enables stay.
std::uint32_t ResetCounter(DeviceContext& ctx, std::uint16_t n);

// Request handlers, routed by the dispatcher.
HandlerResult HandleCounterConfig(DeviceContext& ctx, const Request& request);       // IOCTL_COUNTER_CONFIG
HandlerResult HandleCounterReset(DeviceContext& ctx, const Request& request);        // IOCTL_COUNTER_RESET
HandlerResult HandleCounterEventStart(DeviceContext& ctx, const Request& request);   // IOCTL_COUNTER_EVENT_START
HandlerResult HandleCounterEventRead(DeviceContext& ctx, const Request& request);    // IOCTL_COUNTER_EVENT_READ
HandlerResult HandleCounterFreqStart(DeviceContext& ctx, const Request& request);    // IOCTL_COUNTER_FREQ_START
HandlerResult HandleCounterFreqRead(DeviceContext& ctx, const Request& request);     // IOCTL_COUNTER_FREQ_READ
HandlerResult HandleCounterPulseStart(DeviceContext& ctx, const Request& request);   // IOCTL_COUNTER_PULSE_START
HandlerResult HandleFreqOutStart(DeviceContext& ctx, const Request& request);        // IOCTL_FREQOUT_START
HandlerResult HandlePwmSetting(DeviceContext& ctx, const Request& request);          // IOCTL_PWM_SETTING
HandlerResult HandlePwmEnable(DeviceContext& ctx, const Request& request);           // IOCTL_PWM_ENABLE
HandlerResult HandlePwmStartRead(DeviceContext& ctx, const Request& request);        // IOCTL_PWM_START_READ

}  // namespace qio::driver
