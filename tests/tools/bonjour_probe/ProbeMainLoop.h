#pragma once

#include <functional>

// The probe's main thread drives the process's built-in run loop (the main queue).

// Remembers the calling thread as the main thread; call first thing in main().
void markMainThread();
// True on the thread that called markMainThread.
bool onMainThread();
// True while a block of the main queue runs (inside runMainLoopUntil on the main thread).
bool insideMainLoop();
// Runs the main queue until `done` returns true or `seconds` pass; the final value of `done`.
bool runMainLoopUntil(const std::function<bool()>& done, double seconds);
// Runs what the main queue holds now, and what that posts, for about `seconds`.
void drainMainLoop(double seconds);
