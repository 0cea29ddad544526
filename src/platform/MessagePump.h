#pragma once

// Letting queued window messages run in the middle of a long routine.
namespace pump {

// Runs the events that are queued now and returns.
void doEvents();

// Sleeps until at least one event arrives or maxMs have passed, runs what is queued, and returns.
// Wait loops call this instead of doEvents() so that they do not spin a core.
void waitForEvents(int maxMs);

} // namespace pump
