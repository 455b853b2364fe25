#include "engine/run_outcome.h"

#include <algorithm>
#include <csignal>
#include <iterator>
#include <vector>

namespace velmar {

namespace {

const ExitStatusRow& RowOf(RunOutcome outcome) {
  for (const ExitStatusRow& row : kExitStatusTable) {
    if (row.outcome == outcome) return row;
  }
  return kExitStatusTable[0];
}

std::size_t RankOf(RunOutcome outcome) {
  return static_cast<std::size_t>(&RowOf(outcome) - std::begin(kExitStatusTable));
}

}  // namespace

int ExitStatusOf(RunOutcome outcome) {
  return RowOf(outcome).status;
}

RunOutcome WorseOutcome(RunOutcome a, RunOutcome b) {
  return RankOf(b) > RankOf(a) ? b : a;
}

RunOutcome OutcomeOfSignal(int signalNumber) {
  return signalNumber == SIGINT ? RunOutcome::kInterrupted : RunOutcome::kTerminated;
}

std::string ExitStatusHelpText() {
  std::vector<const ExitStatusRow*> rows;
  for (const ExitStatusRow& row : kExitStatusTable) rows.push_back(&row);
  std::sort(rows.begin(), rows.end(),
            [](const ExitStatusRow* a, const ExitStatusRow* b) { return a->status < b->status; });
  std::string text;
  for (const ExitStatusRow* row : rows) {
    std::string status = std::to_string(row->status);
    status.resize(5, ' ');
    text += "  " + status + row->meaning + "\n";
  }
  return text;
}

}  // namespace velmar
