// What the platform runtime exports. Its public headers put their
// declarations between QELVO_RUNTIME_API_BEGIN and QELVO_RUNTIME_API_END; the
// runtime itself is built with hidden visibility and binds every reference to
// its own definitions (-Bsymbolic), so nothing else leaves it and a host
// program that exports the same names cannot take them over.
#pragma once

#if defined(QELVO_BUILDING_RUNTIME)
#define QELVO_RUNTIME_API_BEGIN _Pragma("GCC visibility push(default)")
#define QELVO_RUNTIME_API_END _Pragma("GCC visibility pop")
#else
#define QELVO_RUNTIME_API_BEGIN
#define QELVO_RUNTIME_API_END
#endif
