#pragma once
// Glue between the hook module and the event module; not for other files.

#include <cstdint>

// Takes the next id of the process-wide hook table without starting the event
// module: the event module's start-up takes its emit hook id with it (id 0),
// which ReserveHookId then never hands out again (hook.cpp).
int32_t ReserveProcessHookIdFirst();
