// "/SESSIONINFO" (a table or CSV of the sessions' details), "/CSV", and the
// two filters the session commands honour from then on: "/IDLEMINUTES" and
// "/EXCEPT".
#pragma once

#include "state/state.h"

namespace quillmarsh::sessions {

void SessionInfoCommand(State& state);
void CsvCommand(State& state);
void IdleMinutesCommand(State& state);
void ExceptCommand(State& state);

}  // namespace quillmarsh::sessions
