#pragma once
// How a run of the command-line programs ended, and the exit status that
// says so. `velmar run` and `vlmpack --headless` share this one table, and
// so do their help texts and the manual: a supervisor (systemd, a
// Kubernetes pod failure policy, a shell script) reads the same number for
// the same outcome from either program.

#include <string>
#include <string_view>

namespace velmar {

enum class RunOutcome {
  kEnded,        // every script ended by itself (or by `exit`)
  kTimeLimit,    // --time-limit was reached and the scripts were stopped
  kScriptError,  // a script error ended a script, or the output was lost
  kUnreadable,   // a script (or the boot file) could not be read
  kInterrupted,  // SIGINT stopped the run
  kTerminated,   // SIGTERM stopped the run
  kUsage,        // a wrong command line; nothing ran
};

struct ExitStatusRow {
  RunOutcome outcome;
  int status;
  const char* meaning;  // for the help texts and the manual's table
};

// From the mildest to the worst outcome: for several scripts the worst one
// decides the status. A stop from outside decides over what the scripts did,
// so that a supervisor that stopped the run sees its own signal again.
inline constexpr ExitStatusRow kExitStatusTable[] = {
    {RunOutcome::kEnded, 0, "the scripts ended"},
    {RunOutcome::kTimeLimit, 124, "the time limit was reached; the scripts were stopped"},
    {RunOutcome::kScriptError, 1, "a script error ended a script, or the output could not be written"},
    {RunOutcome::kUnreadable, 3, "a script or the boot file could not be read"},
    {RunOutcome::kInterrupted, 130, "stopped by SIGINT (Ctrl+C)"},
    {RunOutcome::kTerminated, 143, "stopped by SIGTERM"},
    {RunOutcome::kUsage, 2, "a wrong command line, or a missing home folder"},
};

int ExitStatusOf(RunOutcome outcome);
// The worse of two outcomes.
RunOutcome WorseOutcome(RunOutcome a, RunOutcome b);
// SIGINT and SIGTERM; any other signal counts as SIGTERM.
RunOutcome OutcomeOfSignal(int signalNumber);

// The table as the programs' help texts print it, one "  STATUS  MEANING"
// line per row, in the order of the statuses.
std::string ExitStatusHelpText();

}  // namespace velmar
