#pragma once
// What `velmar trace` makes of a trace: HAR 1.2 of its HTTP exchanges, one
// request as a curl command line, and a summary for a person.

#include <string>

#include <nlohmann/json.hpp>

#include "tooling/trace_reader.h"

namespace velmar {

// The HAR 1.2 log of every exchange, in order.
nlohmann::json TraceToHar(const TraceFile& trace);

// The `number`th exchange (from 1) as a curl command line; false with
// `error` when there is none.
bool TraceToCurl(const TraceFile& trace, std::size_t number, std::string& out, std::string& error);

// Requests, statuses, bytes and time per host, script errors and failed
// requests with their positions.
std::string TraceSummary(const TraceFile& trace);

}  // namespace velmar
