#pragma once

#include <functional>
#include <vector>

class QObject;

// Runs `steps` one per turn of the event loop, in order, so that what comes in between (input,
// a paint, a socket) waits for one step at most. Nothing more runs once `owner` is gone.
void runInTurns(QObject* owner, std::vector<std::function<void()>> steps);
