#pragma once
// The failure report: one line on standard output, in the ANSI code page.
#include <cstdint>

#include "launcher/failure.h"
#include "launcher/output.h"

// Writes "<kind>: <message>" and CR LF. False when there is no standard
// output: the caller then raises the failure itself again, for the
// last-resort box to show. When the line could not be written for another
// reason, raises the output failure (EInOutError).
bool ReportFailure(const Failure& failure);

// The message of the output failure for an output status.
Text OutputFailureMessage(std::int32_t status);
