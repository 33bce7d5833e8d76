#pragma once
// How a plug-in module exports its entry point.
#if defined(_WIN32)
#define VELTRANE_EXPORT __declspec(dllexport)
#else
#define VELTRANE_EXPORT __attribute__((visibility("default")))
#endif
