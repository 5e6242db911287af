#pragma once
// Export macro of the Velmarik library: every declaration of library/include/ carries it.

#if defined(_WIN32)
#if defined(VELMARIK_BUILDING)
#define VELMARIK_API __declspec(dllexport)
#else
#define VELMARIK_API __declspec(dllimport)
#endif
#else
#define VELMARIK_API
#endif
