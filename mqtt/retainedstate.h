#ifndef RETAINEDSTATE_H
#define RETAINEDSTATE_H

// How long a module's retained state on the broker is believed. A bridge
// publishes its status, inputs and outputs again every refreshSeconds, each
// with an MQTT 5 message expiry of expirySeconds: a broker drops them, and
// a panel stops trusting them, that long after the bridge was last heard,
// whatever happened to the broker meanwhile (a crash with persistence on
// restores retained messages and sends no last will).
namespace RetainedState {
constexpr int refreshSeconds = 20;
constexpr int expirySeconds = 60;
} // namespace RetainedState

#endif // RETAINEDSTATE_H
