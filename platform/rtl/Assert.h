#pragma once
// Assertions: Assert(condition) or Assert(condition, message). A failed assertion hands its
// message, the source file as compiled, the line and the code address of the failed check to
// the procedure in AssertErrorProc. Until a program installs its own, that procedure raises
// EAssertionFailed with the run-time's text. When an installed procedure returns, execution
// goes on after the Assert.

#include <QString>

#include <cstdint>

using TAssertErrorProc = void (*)(const QString& AMessage, const QString& AFileName,
                                  std::int32_t ALineNumber, void* AErrorAddr);

// Set it at start-up, before other threads run; it is read on every failed assertion.
extern TAssertErrorProc AssertErrorProc;

// Called by the Assert macro only. Not inlined, so its return address is the code address
// of the failed assertion in the caller.
[[gnu::noinline]] void RtlAssert(const QString& AMessage, const char* AFileName, std::int32_t ALineNumber);

inline QString RtlAssertMessage() { return QString(); }
inline QString RtlAssertMessage(const QString& AMessage) { return AMessage; }

#define Assert(ACondition, ...)                                                              \
    ((ACondition) ? static_cast<void>(0)                                                     \
                  : ::RtlAssert(::RtlAssertMessage(__VA_ARGS__), __FILE__, __LINE__))
