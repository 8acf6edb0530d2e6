// The gateway the host calls for every evaluation of vandrel(...): the
// module's only export.
#ifndef VANDREL_GATEWAY_GATEWAY_H
#define VANDREL_GATEWAY_GATEWAY_H

#include "host/host.h"

#if defined(_WIN32)
#define VANDREL_GATEWAY_EXPORT extern "C" __declspec(dllexport)
#else
#define VANDREL_GATEWAY_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VANDREL_GATEWAY_EXPORT void mexFunction(int outputCount, host::Array *outputs[], int inputCount,
                                        const host::Array *inputs[]);

#endif
