// Shared by the two halves of the editor service: the model and its task bodies.
#pragma once

#include "TovarekMk2EditorService.h"

// Ends a task body when its step failed: the service shows the message in its error state and
// the body's Result carries the same message, logged here at the step.
#define TOVAREK_ERROR_STEP(stepResult, message)            \
    do                                                     \
    {                                                      \
        if (! (stepResult).ok)                             \
        {                                                  \
            setError (message);                            \
            return KORVANTAL_ERROR ("%s", message);        \
        }                                                  \
    } while (false)

// Ends a task body with the step's own failure; it reaches only the log.
#define TOVAREK_LOG_ONLY_STEP(stepResult)                  \
    do                                                     \
    {                                                      \
        const Korvantal::Result stepOutcome = (stepResult); \
        if (! stepOutcome.ok)                              \
            return stepOutcome;                            \
    } while (false)

namespace TovarekMk2::ServiceDetail
{
// Device block indexes: the edit buffer, and the first user amp and cabinet slot.
constexpr int kEditBufferIndex = 0;
constexpr int kFirstUserSlotIndex = 4;

inline bool isUserSlot (int slot)
{
    return slot >= 0 && slot < TovarekMk2EditorService::kUserSlotCount;
}
} // namespace TovarekMk2::ServiceDetail

// Names both halves use; this header is included by the service's own sources only.
namespace TovarekMk2
{
using Korvantal::KorvantalProtocol;
using Korvantal::logMessage;
using Korvantal::kLogDebug;
using Korvantal::kLogError;
using Korvantal::kLogWarning;
namespace Data = Korvantal::KorvantalData;
using namespace ServiceDetail;
} // namespace TovarekMk2
